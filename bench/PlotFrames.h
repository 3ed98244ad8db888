// Frame timing for the Run View benchmarks: one whole picture of a plot drawn into an image, and
// the percentiles of a run of them.
#pragma once

#include "panes/RunPlot.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <vector>

namespace zelvox::bench {

inline double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0
                     : v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

// Milliseconds the plot takes to draw its whole picture into image.
inline double FrameMs(const RunPlot& plot, QImage& image) {
    QElapsedTimer t;
    t.start();
    QPainter p(&image);
    plot.Render(p, image.rect());
    p.end();
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

} // namespace zelvox::bench
