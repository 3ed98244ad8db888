// Geometry of the main window's fixed four-pane layout.
#pragma once

#include <QRect>
#include <QSize>

namespace zelvox {

struct MainLayout {
    QSize window;     // the main window, menu bar and status bar included
    int topRowHeight; // ideal height of the top row (graph and table)
    // Cells of the four panes in the central area (each pane sits inside a 2-pixel border).
    QRect graphCell, dataCell, gaugeCell, panelCell;
};

inline constexpr int kSplitterGap = 7; // width of a splitter bar between cells
inline constexpr int kPaneBorder = 2;  // sunken border around each pane
inline constexpr int kTopLeftWidth = 450;
inline constexpr int kWindowHeight = 580;

int MainWindowWidth(int screenWidth); // 930 when wider than 800, else 800

// clientHeight: the frame's client height (window height less the menu bar);
// centralHeight: what is left for the panes once the status bar is in;
// layoutImage: size of the layout image (the dial, 410 x 208); caption: the caption height.
MainLayout ComputeMainLayout(int screenWidth, int clientHeight, int centralHeight, QSize layoutImage,
                             int captionHeight);

} // namespace zelvox
