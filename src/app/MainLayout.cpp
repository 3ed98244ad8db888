#include "app/MainLayout.h"

#include <algorithm>

namespace zelvox {

int MainWindowWidth(int screenWidth) {
    return screenWidth > 800 ? 930 : 800;
}

MainLayout ComputeMainLayout(int screenWidth, const WindowFrame& frame, int menuHeight, int statusHeight,
                             QSize layoutImage) {
    MainLayout l;
    l.window = QSize(MainWindowWidth(screenWidth), kWindowHeight);
    l.client = l.window.shrunkBy(frame.extents).expandedTo(QSize(0, 0));
    l.menuHeight = menuHeight;
    l.statusHeight = statusHeight;
    const int width = l.client.width();
    const int hc = l.client.height() - menuHeight;
    const int centralHeight = std::max(0, hc - statusHeight);

    const int border = 2 * kPaneBorder;
    int top = hc - layoutImage.height() - frame.caption - 10;
    top = std::clamp(top, kGraphMinimumRows + border, kGraphMaximumRows + border);
    const int bottomRows = std::max(layoutImage.height(), kBottomRowMinimumRows) + border;
    top = std::max(0, std::min(top, centralHeight - kSplitterGap - bottomRows));
    l.topRowHeight = top;
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
