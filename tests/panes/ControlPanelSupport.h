// Shared pieces of the control panel tests: a panel on a pane hub, a pseudo-terminal meter,
// frames, waiting on the event loop, and where each segment picture can be seen on a grab.
#pragma once

#include "decode/Frame.h"
#include "panes/ControlPanel.h"
#include "panes/ScreenMetrics.h"
#include "support/PaneHub.h"
#include "support/Pty.h"

#include <QCoreApplication>
#include <QImage>
#include <QThread>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace zelvox::paneltest {

// A panel as the main frame builds it: sized first, then given its first update.
struct PanelRig {
    zelvox::testing::PaneHub hub;
    std::unique_ptr<ControlPanel> panel;

    explicit PanelRig(int screenWidth = 1024, QSize paneSize = QSize(520, 227)) {
        SetScreenWidthOverride(screenWidth);
        panel = std::make_unique<ControlPanel>(&hub);
        hub.panel = panel.get();
        panel->resize(paneSize);
        panel->InitialUpdate();
        panel->show();
    }
    ~PanelRig() {
        panel.reset();
        SetScreenWidthOverride(0);
    }
    template <class T> T* Child(int id) const { return panel->findChild<T*>(QString::number(id)); }
};

// Runs the event loop until pred holds or timeoutMs pass; returns pred's last answer.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

inline QImage Grab(QWidget& w) {
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// A frame from its 18 nibble bytes, with start byte and checksum.
inline Frame MakeFrame(const std::array<std::uint8_t, 18>& nibbles) {
    Frame f{};
    f[0] = kStartByte;
    unsigned sum = 0;
    for (std::size_t i = 0; i < 18; ++i) {
        f[i + 1] = nibbles[i] & 0x0F;
        sum += f[i + 1];
    }
    f[19] = static_cast<std::uint8_t>(sum & 0xFF);
    return f;
}

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
