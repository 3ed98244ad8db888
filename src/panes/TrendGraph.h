// The trend graph pane: the readings of the current run, paged, on the scale of MAX/MIN.
#pragma once

#include "decode/Statistics.h"

#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>

class QPainter;
class QLineEdit;
class QLabel;
class QPushButton;

namespace zelvox {

class MeterSession;

// The plot is composed, shown, exported and printed in the pane's top 250 rows; the control
// strip lies below them.
inline constexpr int kPlotRows = 250;

class TrendGraph : public QWidget {
    Q_OBJECT
public:
    // The graph plots the session's history on the scale of its MAX/MIN; the session outlives it.
    explicit TrendGraph(const MeterSession& session, QWidget* parent = nullptr);
    ~TrendGraph() override;

    void InitialUpdate();
    void ShowReading(std::uint8_t functionCode, std::uint8_t pointPosition);
    void UpdatePageCount();
    void RestartPages();
    void Reset();

    // Composes the plot in the plot image and copies its top 250 rows to target at (0, 0).
    void DrawTrend(QPainter& target);

    // Graph export and printing (disk button 1000, printer button 1018, "Export Graph").
    void ExportGraph();
    void PrintGraph();
    void PrintPage(QPainter& printer, const QRect& pageRect);

    const QImage& PlotImage() const { return plotImage_; }
    std::uint8_t TrendFunction() const { return trendFunction_; }
    std::uint16_t CurrentScale() const { return trendScale_; }
    std::uint16_t PageCount() const { return pageCount_; }
    std::uint16_t CurrentPage() const { return currentPage_; }
    std::uint16_t PlotWidth() const { return plotWidth_; }
    std::uint16_t PlotHeight() const { return plotHeight_; }
    std::uint16_t HalfHeight() const { return halfHeight_; }

    // Readings per page: plotWidth - 50, and at least 1 for a plot too narrow to hold any.
    int PageSize() const;
    // Page buttons 1022, 1019, 1020, 1021 (nothing happens before the first reading).
    void FirstPage();
    void PreviousPage();
    void NextPage();
    void LastPage();

    // The y of a stored value: overloads on the top and bottom lines, else trunc(b - b*v/G).
    static int TraceY(double value, int base, int halfHeight, double fullScale);
    // The linear part alone (used for the previous value of a segment even if it overloaded).
    static int LinearY(double value, int base, double fullScale);
    // Text of label i (0 at the top .. 10 at the bottom) for a function on a scale row.
    static QString AxisLabel(std::uint8_t trendFunction, std::uint16_t scale, int i);
    // Status bar hint of a control, by id; empty for controls without one.
    static QString ButtonHint(int id);

signals:
    // The status bar hint of the control under the mouse; empty when the mouse leaves it.
    void hintChanged(const QString& hint);
    // A double click on the graph: the user wants the whole run (the Run View).
    void runViewRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent*) override { emit runViewRequested(); }

private:
    const MeterSession& session_;
    std::uint8_t trendFunction_ = 0;
    std::uint16_t trendScale_ = 1;
    std::uint16_t pageCount_ = 0;
    std::uint16_t currentPage_ = 0;
    std::uint16_t plotWidth_ = 0;
    std::uint16_t plotHeight_ = 0;
    std::uint16_t halfHeight_ = 0;
    QRect clientRect_;
    QImage plotImage_;
    // Axis, grid and labels of the current scale, composed once per scale; the plot image is
    // this backdrop with the trace drawn on it, one new column per reading.
    QImage backdrop_;
    int backdropScale_ = -1;
    bool backdropUnipolar_ = false;
    // What the plot image holds of the trace: the samples [first, end) of the page keyed by
    // the other fields (end - 1 held `lastValue`, to notice a history that wrapped and refilled).
    struct TraceState {
        bool valid = false;
        bool visible = false;
        std::size_t runStart = 0, first = 0, end = 0;
        std::uint16_t scale = 0;
        bool unipolar = false;
        double lastValue = 0.0;
    } trace_;
    QLineEdit* pageBox_ = nullptr;
    QLabel* pageTotal_ = nullptr;
    std::array<QPushButton*, 6> buttons_{};
    QFont labelFont_;

    void ComposeBackdrop(int rows);
    // Brings the plot image up to date: backdrop on a scale change, the trace anew on a page
    // change, else only the columns of readings not drawn yet.
    void UpdatePlot();
    TraceState TraceKey() const;
    void DrawTrace(int rows, std::size_t from, std::size_t to);
    // Marks for repaint what the next UpdatePlot will change on screen.
    void InvalidatePlot();
    int PlotRows() const;
    void ShowPageNumbers();
};

} // namespace zelvox
