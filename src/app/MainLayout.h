// Geometry of the main window's fixed four-pane layout.
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

namespace zelvox {

// The frame a desktop draws around the main window: its extents on each side (the top one
// holds the title bar) and the title bar's own height.
struct WindowFrame {
    QMargins extents;
    int caption = 0;
    friend bool operator==(const WindowFrame&, const WindowFrame&) = default;
};

// Where nothing draws a frame (a bare X server, the offscreen platform) the window is laid out
// as if it had a classic desktop frame: a 23-pixel caption and thin 4-pixel borders, so the
// panes come out the same size as under a window manager.
inline const WindowFrame kNominalFrame{QMargins(4, 27, 4, 4), 23};

struct MainLayout {
    QSize window; // the outer frame: title bar and borders included
    QSize client; // inside the frame: menu bar, panes and status bar
    int menuHeight = 0;
    int statusHeight = 0;
    int topRowHeight = 0; // height of the top row (graph and table)
    // Cells of the four panes in the central area (each pane sits inside a 2-pixel border).
    QRect graphCell, dataCell, gaugeCell, panelCell;
    QSize CentralSize() const { return QSize(client.width(), client.height() - menuHeight - statusHeight); }
};

inline constexpr int kSplitterGap = 7; // width of a splitter bar between cells
inline constexpr int kPaneBorder = 2;  // sunken border around each pane
inline constexpr int kTopLeftWidth = 450;
inline constexpr int kWindowHeight = 580;
// Rows the graph needs: its 250 plot rows and the 20-row control strip under them.
inline constexpr int kGraphMinimumRows = 270;
// The tallest graph whose eleven grid lines and labels all fall in the 250 plot rows: its
// halfHeight (rows * 9 / 11 / 2) is at most 118, so the bottom line is at most row 236 and its
// label, drawn from 6 rows above the line in a 20-pixel font, ends by row 249.
inline constexpr int kGraphMaximumRows = 290;
// Rows the bottom row needs inside its border: the dial (208) and the control panel's
// buttons, which end 38 rows under its 174-row display.
inline constexpr int kBottomRowMinimumRows = 212;

int MainWindowWidth(int screenWidth); // 930 when wider than 800, else 800

// The layout for a screen width, the frame around the window, the heights of the menu and
// status bars and the size of the layout image (the dial, 410 x 208).
//
// The top row's height follows the frame's client height below the menu bar (Hc), taken
// before the status bar exists: Hc - image height - caption - 10. It is then kept between what
// the graph needs (its control strip whole, all grid lines in its plot rows), and the bottom
// row always keeps room for the dial and the control panel's buttons.
MainLayout ComputeMainLayout(int screenWidth, const WindowFrame& frame, int menuHeight, int statusHeight,
                             QSize layoutImage);

} // namespace zelvox
