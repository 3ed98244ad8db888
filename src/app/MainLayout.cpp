#include "app/MainLayout.h"

#include <algorithm>

namespace zelvox {

int MainWindowWidth(int screenWidth) {
    return screenWidth > 800 ? 930 : 800;
}

MainLayout ComputeMainLayout(int screenWidth, int clientHeight, int centralHeight, QSize layoutImage,
                             int captionHeight) {
    MainLayout l;
    l.window = QSize(MainWindowWidth(screenWidth), kWindowHeight);
    const int width = l.window.width();
    // The top row's ideal height follows the client height the frame has before the status
    // bar exists; the bottom row takes the rest of the central area.
    l.topRowHeight = std::max(0, clientHeight - layoutImage.height() - captionHeight - 10);
    const int top = std::min(l.topRowHeight, std::max(0, centralHeight - kSplitterGap));
    const int bottomY = top + kSplitterGap;
    const int bottomHeight = std::max(0, centralHeight - bottomY);

    const int leftTop = std::min(kTopLeftWidth, width);
    l.graphCell = QRect(0, 0, leftTop, top);
    l.dataCell = QRect(leftTop + kSplitterGap, 0, std::max(0, width - leftTop - kSplitterGap), top);
    const int leftBottom = std::min(layoutImage.width(), width);
    l.gaugeCell = QRect(0, bottomY, leftBottom, bottomHeight);
    l.panelCell = QRect(leftBottom + kSplitterGap, bottomY, std::max(0, width - leftBottom - kSplitterGap),
                        bottomHeight);
    return l;
}

} // namespace zelvox
