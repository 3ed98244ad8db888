#include "panes/TrendGraph.h"

#include "decode/FunctionCode.h"
#include "decode/Reading.h"
#include "decode/ReadingHistory.h"
#include "panes/ScaleTable.h"
#include "res/Artwork.h"
#include "res/ControlIds.h"
#include "session/MeterSession.h"

#include <QEvent>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace zelvox {

namespace {

constexpr int kAxisX = 50;      // the vertical axis; the trace starts here
constexpr int kLabelRight = 48; // labels end here, left of the axis
constexpr int kLabelHeight = 20;
constexpr int kLabelCharWidth = 6;
const QColor kBackground(220, 220, 220);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kRed = qRgb(255, 0, 0);

struct PaneControl {
    int id;
    int left;
    int image;
    const char* hint;    // shown in the 50-pixel first pane of the status bar while hovered
    const char* tooltip; // the full name
};

// The strip under the plot, left to right; every control is 20 x 20 at y = 250.
constexpr PaneControl kButtons[6] = {
    {kSaveGraphButton, 50, res::kIconDisk, "save", "save graph as bitmap"},
    {kPrintGraphButton, 70, res::kIconPrinter, "print", "print graph"},
    {kFirstPageButton, 90, res::kIconFirst, "first", "first page"},
    {kPreviousPageButton, 110, res::kIconPrevious, "prev", "previous page"},
    {kNextPageButton, 130, res::kIconNext, "next", "next page"},
    {kLastPageButton, 150, res::kIconLast, "last", "last page"},
};
constexpr int kPageBoxLeft = 170, kPageBoxWidth = 30;
constexpr int kPageTotalLeft = 200, kPageTotalWidth = 40;
constexpr int kControlHeight = 20;

// Far enough outside any plot that clipping hides it, and still safe to hold in an int.
constexpr double kOffPlot = 1e9;

int TruncateY(double y) {
    if (std::isnan(y))
        return static_cast<int>(kOffPlot);
    return static_cast<int>(std::clamp(y, -kOffPlot, kOffPlot));
}

// A one-pixel line from (x0, y0) towards (x1, y1), end point excluded, clipped to width x rows.
// The trace only ever joins neighbouring columns, so the line runs mostly vertically: its
// first half stays in column x0, the second half in x1.
void DrawSegment(QImage& image, int rows, int x0, int y0, int x1, int y1) {
    const auto plot = [&](int x, int y) {
        if (x >= 0 && x < image.width() && y >= 0 && y < rows)
            reinterpret_cast<QRgb*>(image.scanLine(y))[x] = kRed;
    };
    const long long dy = static_cast<long long>(y1) - y0;
    const long long n = dy < 0 ? -dy : dy;
    if (n == 0) {
        plot(x0, y0);
        return;
    }
    const int step = dy < 0 ? -1 : 1;
    // Only the steps that land on a visible row: y = y0 + k * step for k in [0, n).
    long long kFirst = step > 0 ? -static_cast<long long>(y0) : static_cast<long long>(y0) - (rows - 1);
    long long kLast = step > 0 ? static_cast<long long>(rows - 1) - y0 : static_cast<long long>(y0);
    kFirst = std::max(kFirst, 0LL);
    kLast = std::min(kLast, n - 1);
    for (long long k = kFirst; k <= kLast; ++k)
        plot(2 * k < n ? x0 : x1, static_cast<int>(y0 + k * step));
}

} // namespace

TrendGraph::TrendGraph(const MeterSession& session, QWidget* parent) : QWidget(parent), session_(session) {
    // The plot covers the pane at every paint; nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);

    for (std::size_t b = 0; b < buttons_.size(); ++b) {
        const PaneControl& control = kButtons[b];
        auto* button = new QPushButton(this);
        button->setObjectName(ControlName(control.id));
        button->setGeometry(control.left, kPlotRows, 20, kControlHeight);
        button->setIcon(QIcon(QPixmap::fromImage(res::LoadImage(control.image))));
        button->setIconSize(QSize(16, 16));
        button->setFocusPolicy(Qt::NoFocus);
        button->setToolTip(QString::fromLatin1(control.tooltip));
        button->installEventFilter(this);
        buttons_[b] = button;
    }
    connect(buttons_[0], &QPushButton::clicked, this, &TrendGraph::ExportGraph);
    connect(buttons_[1], &QPushButton::clicked, this, &TrendGraph::PrintGraph);
    connect(buttons_[2], &QPushButton::clicked, this, &TrendGraph::FirstPage);
    connect(buttons_[3], &QPushButton::clicked, this, &TrendGraph::PreviousPage);
    connect(buttons_[4], &QPushButton::clicked, this, &TrendGraph::NextPage);
    connect(buttons_[5], &QPushButton::clicked, this, &TrendGraph::LastPage);

    pageBox_ = new QLineEdit(QStringLiteral("0"), this);
    pageBox_->setObjectName(ControlName(kPageBox));
    pageBox_->setGeometry(kPageBoxLeft, kPlotRows, kPageBoxWidth, kControlHeight);
    pageBox_->setReadOnly(true);
    pageBox_->setFrame(false);
    pageBox_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    pageBox_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), pageBox_));

    pageTotal_ = new QLabel(QStringLiteral("/0"), this);
    pageTotal_->setObjectName(ControlName(kPageTotal));
    pageTotal_->setGeometry(kPageTotalLeft, kPlotRows, kPageTotalWidth, kControlHeight);
    pageTotal_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

TrendGraph::~TrendGraph() = default;

void TrendGraph::InitialUpdate() {
    clientRect_ = rect();
    plotImage_ = QImage();
    if (!clientRect_.isEmpty()) {
        plotImage_ = QImage(clientRect_.size(), QImage::Format_RGB32);
        if (plotImage_.isNull())
            QMessageBox::critical(this, QStringLiteral("error"), QStringLiteral("CreateCompatibleBitmap"));
        else
            plotImage_.fill(kBackground); // a printout before the first paint shows no noise
    }
    plotWidth_ = static_cast<std::uint16_t>(std::clamp(clientRect_.width(), 0, 0xFFFF));
    plotHeight_ = static_cast<std::uint16_t>(std::clamp(clientRect_.height() * 9 / 11, 0, 0xFFFF));
    halfHeight_ = plotHeight_ / 2;

    // Arial at 20 pixels, narrowed to an average character of 6 pixels: the placement of the
    // labels counts on those numbers.
    labelFont_ = QFont(QStringLiteral("Arial"));
    labelFont_.setPixelSize(kLabelHeight);
    labelFont_.setWeight(QFont::Normal);
    labelFont_.setItalic(false);
    const int average = QFontMetrics(labelFont_).averageCharWidth();
    if (average > kLabelCharWidth)
        labelFont_.setStretch(std::max(1, kLabelCharWidth * 100 / average));

    pageCount_ = 0;
    currentPage_ = 0;
    backdrop_ = QImage();
    trace_.valid = false;
    ShowPageNumbers();
}

int TrendGraph::PageSize() const {
    return std::max(1, static_cast<int>(plotWidth_) - kAxisX);
}

void TrendGraph::ShowReading(std::uint8_t functionCode, std::uint8_t pointPosition) {
    trendFunction_ = functionCode;
    const Statistics& stats = session_.Stats();
    const double m = std::max(std::fabs(stats.maxValue), std::fabs(stats.minValue));
    trendScale_ = TrendScale(functionCode, pointPosition, m);
    InvalidatePlot();
}

void TrendGraph::UpdatePageCount() {
    const ReadingHistory& history = session_.History();
    const int stored = std::max(0, static_cast<int>(history.Count()) - static_cast<int>(history.RunStart()));
    const int pages = stored / PageSize() + 1;
    if (pages == pageCount_)
        return;
    const bool onLastPage = currentPage_ == pages - 1;
    pageCount_ = static_cast<std::uint16_t>(pages);
    if (onLastPage)
        currentPage_ = pageCount_;
    ShowPageNumbers();
}

void TrendGraph::RestartPages() {
    pageCount_ = 1;
    currentPage_ = 1;
    ShowPageNumbers();
}

void TrendGraph::Reset() {
    pageCount_ = 0;
    currentPage_ = 0;
    ShowPageNumbers();
    trendFunction_ = 0;
    trendScale_ = 1;
    trace_.valid = false;
    update();
}

void TrendGraph::FirstPage() {
    if (pageCount_ == 0)
        return;
    currentPage_ = 1;
    ShowPageNumbers();
    update();
}

void TrendGraph::PreviousPage() {
    if (pageCount_ == 0)
        return;
    if (currentPage_ > 1)
        --currentPage_;
    ShowPageNumbers();
    update();
}

void TrendGraph::NextPage() {
    if (pageCount_ == 0)
        return;
    if (currentPage_ < pageCount_)
        ++currentPage_;
    ShowPageNumbers();
    update();
}

void TrendGraph::LastPage() {
    if (pageCount_ == 0)
        return;
    currentPage_ = pageCount_;
    ShowPageNumbers();
    update();
}

void TrendGraph::ShowPageNumbers() {
    pageBox_->setText(QString::number(currentPage_));
    pageTotal_->setText(QStringLiteral("/%1").arg(pageCount_));
}

int TrendGraph::LinearY(double value, int base, double fullScale) {
    return TruncateY(base - base * value / fullScale);
}

int TrendGraph::TraceY(double value, int base, int halfHeight, double fullScale) {
    if (value == kOverload)
        return 0;
    if (value == -kOverload)
        return 2 * halfHeight;
    return LinearY(value, base, fullScale);
}

QString TrendGraph::AxisLabel(std::uint8_t trendFunction, std::uint16_t scale, int i) {
    const double g = scaleTable[scale < kScaleRows ? scale : 1].trendFullScale;
    const double value = IsUnipolar(trendFunction) ? g / 10 * (10 - i) : g / 5 * (5 - i);
    return QString::asprintf("%.1f", value);
}

QString TrendGraph::ButtonHint(int id) {
    for (const PaneControl& control : kButtons)
        if (control.id == id)
            return QString::fromLatin1(control.hint);
    return {};
}

int TrendGraph::PlotRows() const {
    return std::min(kPlotRows, plotImage_.height());
}

void TrendGraph::ComposeBackdrop(int rows) {
    if (backdrop_.size() != plotImage_.size() || backdrop_.format() != plotImage_.format())
        backdrop_ = QImage(plotImage_.size(), plotImage_.format());
    const int width = backdrop_.width();
    QPainter painter(&backdrop_);
    painter.setClipRect(0, 0, width, rows);
    painter.fillRect(QRect(0, 0, width, rows), kBackground);

    // Axis, then the eleven grid lines with their labels.
    painter.fillRect(QRect(kAxisX, 0, 1, plotHeight_), QColor::fromRgb(kBlue));
    painter.setFont(labelFont_);
    painter.setPen(Qt::black);
    painter.setBackgroundMode(Qt::TransparentMode);
    const int ascent = QFontMetrics(labelFont_).ascent();
    for (int i = 0; i <= 10; ++i) {
        const int y = halfHeight_ * i / 5;
        if (plotWidth_ > kAxisX)
            painter.fillRect(QRect(kAxisX, y, plotWidth_ - kAxisX, 1), QColor::fromRgb(kBlue));
        const QString text = AxisLabel(trendFunction_, trendScale_, i);
        const int left = kLabelRight - kLabelCharWidth * static_cast<int>(text.size());
        const int top = i == 0 ? -2 : y - kLabelHeight / 2 + 4;
        painter.drawText(QPoint(left, top + ascent), text);
    }
    backdropScale_ = trendScale_;
    backdropUnipolar_ = IsUnipolar(trendFunction_);
}

TrendGraph::TraceState TrendGraph::TraceKey() const {
    TraceState key;
    key.visible = currentPage_ != 0 && pageCount_ != 0;
    if (key.visible) {
        const ReadingHistory& history = session_.History();
        key.runStart = history.RunStart();
        key.first =
            key.runStart + static_cast<std::size_t>(currentPage_ - 1) * static_cast<std::size_t>(PageSize());
    }
    key.scale = trendScale_;
    key.unipolar = IsUnipolar(trendFunction_);
    return key;
}

void TrendGraph::UpdatePlot() {
    if (plotImage_.isNull())
        return;
    const int rows = PlotRows();
    if (backdrop_.isNull() || backdropScale_ != trendScale_ ||
        backdropUnipolar_ != IsUnipolar(trendFunction_)) {
        ComposeBackdrop(rows);
        trace_.valid = false;
    }
    const TraceState key = TraceKey();
    const std::size_t count = key.visible ? session_.History().Count() : 0;
    const bool sameTrace = trace_.valid && trace_.visible == key.visible && trace_.runStart == key.runStart &&
                           trace_.first == key.first && trace_.scale == key.scale &&
                           trace_.unipolar == key.unipolar && count >= trace_.end &&
                           (!key.visible || trace_.end <= trace_.first ||
                            std::bit_cast<std::uint64_t>(session_.History().Value(trace_.end - 1)) ==
                                std::bit_cast<std::uint64_t>(trace_.lastValue));
    if (!sameTrace) {
        // Start the page again from the backdrop.
        const qsizetype bytes = plotImage_.bytesPerLine();
        for (int y = 0; y < rows; ++y)
            std::memcpy(plotImage_.scanLine(y), backdrop_.constScanLine(y), static_cast<std::size_t>(bytes));
        trace_ = key;
        trace_.valid = true;
        trace_.end = key.first;
    }
    if (!key.visible)
        return;
    // One column per sample: x = 50 + (i - first) while x <= plotWidth.
    const std::size_t last = std::min(count, key.first + static_cast<std::size_t>(plotWidth_ - kAxisX + 1));
    const std::size_t from = std::max(trace_.end, key.first);
    if (from < last) {
        DrawTrace(rows, from, last);
        trace_.end = last;
        trace_.lastValue = session_.History().Value(last - 1);
    }
}

void TrendGraph::DrawTrace(int rows, std::size_t from, std::size_t to) {
    const ReadingHistory& history = session_.History();
    const double g = scaleTable[trendScale_ < kScaleRows ? trendScale_ : 1].trendFullScale;
    const int base = IsUnipolar(trendFunction_) ? 2 * halfHeight_ : halfHeight_;
    int x = kAxisX + static_cast<int>(from - trace_.first);
    for (std::size_t i = from; i < to; ++x, ++i) {
        const double v = history.Value(i);
        const int y = TraceY(v, base, halfHeight_, g);
        if (i == 0 || IsOverload(v))
            DrawSegment(plotImage_, rows, x, y, x - 1, y);
        else
            DrawSegment(plotImage_, rows, x, y, x - 1, LinearY(history.Value(i - 1), base, g));
    }
}

void TrendGraph::InvalidatePlot() {
    const int rows = plotImage_.isNull() ? kPlotRows : PlotRows();
    const QRect plot(0, 0, clientRect_.isNull() ? width() : clientRect_.width(), rows);
    const TraceState key = TraceKey();
    const bool sameBackdrop = !backdrop_.isNull() && backdropScale_ == trendScale_ &&
                              backdropUnipolar_ == IsUnipolar(trendFunction_);
    if (!sameBackdrop || !trace_.valid || trace_.visible != key.visible || trace_.runStart != key.runStart ||
        trace_.first != key.first || trace_.scale != key.scale || trace_.unipolar != key.unipolar) {
        update(plot);
        return;
    }
    if (!key.visible)
        return; // the same grid and labels, no trace: nothing changes on screen
    const std::size_t count = session_.History().Count();
    if (count < trace_.end) {
        update(plot);
        return;
    }
    // The new samples' columns, the column before them (each segment reaches back one
    // column) and one beyond, for a reading stored since.
    const long long left = kAxisX + static_cast<long long>(std::max(trace_.end, key.first) - key.first) - 1;
    const long long right = kAxisX + static_cast<long long>(count - key.first) + 1;
    const QRect columns = QRect(QPoint(static_cast<int>(std::clamp(left, 0LL, 1LL << 20)), 0),
                                QPoint(static_cast<int>(std::clamp(right, 0LL, 1LL << 20)), rows - 1)) &
                          plot;
    if (!columns.isEmpty())
        update(columns);
}

void TrendGraph::DrawTrend(QPainter& target) {
    UpdatePlot();
    if (plotImage_.isNull())
        return;
    target.drawImage(QPoint(0, 0), plotImage_, QRect(0, 0, clientRect_.width(), PlotRows()));
}

void TrendGraph::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    UpdatePlot();
    if (!plotImage_.isNull()) {
        const QRect plot = area & QRect(0, 0, clientRect_.width(), PlotRows());
        if (!plot.isEmpty())
            painter.drawImage(plot.topLeft(), plotImage_, plot);
    }
    const QRect client = clientRect_.isNull() ? rect() : clientRect_;
    const QRect strip = QRect(client.left(), kPlotRows, client.width(), client.height() - kPlotRows) & area;
    if (!strip.isEmpty())
        painter.fillRect(strip, kBackground);
}

bool TrendGraph::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
        const QString hint =
            event->type() == QEvent::Enter ? ButtonHint(watched->objectName().toInt()) : QString();
        emit hintChanged(hint);
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace zelvox
