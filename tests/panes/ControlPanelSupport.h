// Shared pieces of the control panel tests: a panel on a meter session, and where each segment
// picture can be seen on a grab.
#pragma once

#include "decode/Frame.h"
#include "panes/ControlPanel.h"
#include "panes/ScreenMetrics.h"
#include "support/EventLoop.h"
#include "support/Frames.h"
#include "support/Pictures.h"
#include "support/Pty.h"
#include "support/SessionHub.h"

#include <QImage>
#include <memory>
#include <string>

namespace zelvox::paneltest {

using testing::FrameOfNibbles;
using testing::Grab;
using testing::WaitUntil;

// A panel as the main window builds it: sized first, then given its first update, and wired
// to its session.
struct PanelRig {
    testing::SessionHub hub;
    std::unique_ptr<ControlPanel> panel;

    explicit PanelRig(int screenWidth = 1024, QSize paneSize = QSize(520, 227)) {
        panel = std::make_unique<ControlPanel>(&hub.session, IsWideLayout(screenWidth));
        panel->resize(paneSize);
        panel->InitialUpdate();
        panel->show();
        ConnectPanes(hub.session, SessionPanes{panel.get(), nullptr, nullptr});
    }
    MeterSession& session() { return hub.session; }
    const MeterSession& session() const { return hub.session; }
    ~PanelRig() { panel.reset(); }
    template <class T> T* Child(int id) const { return panel->findChild<T*>(QString::number(id)); }
};

// The centre of each digit segment, of each decimal point and of the minus sign on the pane,
// from the display's geometry: digit n (0 = leftmost) starts 55 * n pixels right of digit 1.
struct DigitProbes {
    QPoint a, b, c, d, e, f, g;
};
inline DigitProbes DigitProbe(int n) {
    const int dx = 55 * n;
    return {{60 + dx, 34},  {79 + dx, 61}, {79 + dx, 117}, {60 + dx, 144},
            {41 + dx, 117}, {41 + dx, 61}, {60 + dx, 89}};
}
inline QPoint PointProbe(int afterDigit) {
    return {89 + 55 * (afterDigit - 1), 144};
}
inline const QPoint kMinusProbe{18, 91};

inline bool Lit(const QImage& shot, QPoint p) {
    return qGreen(shot.pixel(p)) > 0;
}

// Reads the four digits back from a grab as a seven-segment display would be read: ' ' for a
// dark digit, '?' for a pattern that is no digit, then '.' after a lit point, '-' in front.
inline std::string ReadDisplay(const QImage& shot) {
    static const std::pair<const char*, char> kDigits[] = {
        {"abcdef", '0'}, {"bc", '1'},  {"abdeg", '2'},   {"abcdg", '3'},  {"bcfg", '4'}, {"acdfg", '5'},
        {"acdefg", '6'}, {"abc", '7'}, {"abcdefg", '8'}, {"abcdfg", '9'}, {"", ' '}};
    std::string text = Lit(shot, kMinusProbe) ? "-" : "";
    for (int n = 0; n < 4; ++n) {
        const DigitProbes p = DigitProbe(n);
        std::string lit;
        const std::pair<char, QPoint> segs[] = {{'a', p.a}, {'b', p.b}, {'c', p.c}, {'d', p.d},
                                                {'e', p.e}, {'f', p.f}, {'g', p.g}};
        for (const auto& [name, at] : segs)
            if (Lit(shot, at))
                lit += name;
        char ch = '?';
        for (const auto& [pattern, digit] : kDigits)
            if (lit == pattern)
                ch = digit;
        text += ch;
        if (n < 3 && Lit(shot, PointProbe(n + 1)))
            text += '.';
    }
    return text;
}

} // namespace zelvox::paneltest
