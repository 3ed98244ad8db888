#include "app/MainWindow.h"

#include "app/DesktopFrame.h"
#include "app/LinkNotices.h"

#include "decode/Format.h"
#include "link/Settings.h"
#include "panes/ControlPanel.h"
#include "panes/NeedleGauge.h"
#include "panes/PaneWiring.h"
#include "panes/ReadingsTable.h"
#include "panes/ScreenMetrics.h"
#include "panes/TrendGraph.h"
#include "res/Artwork.h"
#include "session/MeterSession.h"
#include "session/ReadingsModel.h"

#include <QAction>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace zelvox {

namespace {

constexpr int kStatusWidths[3] = {50, 160, 125};
constexpr int kStatusStretchMinimum = 200;
// Room the status bar keeps for its own margins and the gaps between its panes.
constexpr int kStatusBarSlack = 40;
constexpr int kMenuBarMinimum = 20;
constexpr int kStatusBarMinimum = 22;

// A cell of the fixed splitter: a sunken 2-pixel border around one pane.
QFrame* MakeCell(QWidget* parent, const QRect& cell) {
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setLineWidth(kPaneBorder);
    frame->setGeometry(cell);
    return frame;
}

template <class Pane> Pane* PlacePane(QFrame* cell, Pane* pane) {
    pane->setParent(cell);
    pane->setGeometry(cell->contentsRect());
    return pane;
}

} // namespace

MainWindow::MainWindow(Settings& settings, int screenWidth, QWidget* parent)
    : QMainWindow(parent), settings_(settings),
      screenWidth_(screenWidth > 0 ? screenWidth : ScreenHorizontalResolution()),
      session_(std::make_unique<MeterSession>(settings)) {
    setWindowTitle(QStringLiteral("Zelvox"));
    // No maximise box and no sizing border: the window keeps its caption, system menu and
    // minimise box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    BuildMenus();
    BuildStatusBar();
    BuildPanes();

    // The clock ticks every second from the frame's creation; pane 1 stays empty until then.
    clock_ = new QTimer(this);
    clock_->setInterval(1000);
    connect(clock_, &QTimer::timeout, this, &MainWindow::UpdateClock);
    clock_->start();
    noticeHold_ = new QTimer(this);
    noticeHold_->setSingleShot(true);
    noticeHold_->setInterval(kNoticeMs);
    connect(noticeHold_, &QTimer::timeout, this, &MainWindow::ShowNextNotice);
    // A silent or lost port is said in the progress pane.
    new LinkNotices(*this);
    CentreOnScreen();
}

void MainWindow::CentreOnScreen() {
    // The outer rectangle is centred, and kept whole on a screen hardly larger than it. The
    // client area is placed inside it by the frame learnt at construction: the toolkit does not
    // know the frame of a window that is not mapped yet.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        QRect outer(QPoint(), layout_.window);
        outer.moveCenter(area.center());
        outer.moveLeft(std::max(area.left(), std::min(outer.left(), area.right() + 1 - outer.width())));
        outer.moveTop(std::max(area.top(), std::min(outer.top(), area.bottom() + 1 - outer.height())));
        setGeometry(
            QRect(outer.topLeft() + QPoint(frame_.extents.left(), frame_.extents.top()), layout_.client));
    }
}

MainWindow::~MainWindow() {
    // The acquisition ends first (joining its threads) while the history it writes to still
    // exists; then the panes go, and the session with the history last.
    session_->Stop();
    delete central_;
    central_ = nullptr;
    graph_ = nullptr;
    data_ = nullptr;
    gauge_ = nullptr;
    panel_ = nullptr;
}

void MainWindow::BuildMenus() {
    struct Item {
        const char* menu;
        const char* label;
        int id;
    };
    static const Item items[] = {
        {"&File", "SAVE EXCEL FILE", kCmdSaveExcel},
        {"&File", "SAVE TEXT FILE", kCmdSaveText},
        {"&File", "Export Graph", kCmdExportGraph},
        {"&File", nullptr, 0},
        {"&File", "E&xit", kCmdExit},
        {"SET", "PORT SET", kCmdPortSet},
        {"VIEW", "Run View", kCmdRunView},
        {"HELP", "HelpTopic", kCmdHelpTopic},
    };
    menuBar()->setNativeMenuBar(false); // the menu bar is part of the fixed layout
    QMenu* menu = nullptr;
    QString menuTitle;
    for (const Item& item : items) {
        if (!menu || menuTitle != QLatin1String(item.menu)) {
            menuTitle = QLatin1String(item.menu);
            menu = menuBar()->addMenu(menuTitle);
            menu->setObjectName(menuTitle);
        }
        if (!item.label) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QLatin1String(item.label));
        action->setObjectName(QString::number(item.id));
        if (item.id == kCmdRunView)
            action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
        if (item.id == kCmdExit)
            action->setStatusTip(QStringLiteral("Quit the application; prompts to save documents"));
    }
}

QAction* MainWindow::Command(int id) const {
    return findChild<QAction*>(QString::number(id));
}

void MainWindow::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("59393"));
    bar->setSizeGripEnabled(false);
    for (int i = 0; i < 4; ++i) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("statusPane%1").arg(i));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setTextFormat(Qt::PlainText);
        if (i < 3) {
            label->setFixedWidth(kStatusWidths[i]);
            bar->addWidget(label);
        } else {
            label->setMinimumWidth(kStatusStretchMinimum);
            bar->addWidget(label, 1);
        }
        statusPanes_[i] = label;
    }
    statusPanes_[kPromptPane]->setText(QStringLiteral("Ready"));
}

void MainWindow::BuildPanes() {
    const int screenWidth = screenWidth_;
    // The bars' heights follow the font, never the style, so the panes keep their size
    // whatever style draws them.
    const int line = QFontMetrics(font()).height();
    const int menuHeight = std::max(kMenuBarMinimum, line + 6);
    const int statusHeight = std::max(kStatusBarMinimum, line + 8);
    const QImage layoutImage = res::LoadImage(res::kLayoutImage);

    // The frame is learnt before the panes are laid out: a window manager decorates a window
    // that cannot be resized without a sizing border, so the window first gets a fixed size.
    setFixedSize(QSize(MainWindowWidth(screenWidth), kWindowHeight).shrunkBy(kNominalFrame.extents));
    frame_ = DesktopFrame(this);
    layout_ = ComputeMainLayout(screenWidth, frame_, menuHeight, statusHeight, layoutImage.size());

    menuBar()->setFixedHeight(layout_.menuHeight);
    statusBar()->setFixedHeight(layout_.statusHeight);
    central_ = new QWidget(this);
    central_->setObjectName(QStringLiteral("splitter"));
    central_->setFixedSize(layout_.CentralSize());
    setCentralWidget(central_);

    graph_ = PlacePane(MakeCell(central_, layout_.graphCell), new TrendGraph(*session_));
    data_ = PlacePane(MakeCell(central_, layout_.dataCell), new ReadingsTable(session_->Readings()));
    gauge_ = PlacePane(MakeCell(central_, layout_.gaugeCell), new NeedleGauge());
    panel_ = PlacePane(MakeCell(central_, layout_.panelCell),
                       new ControlPanel(session_.get(), IsWideLayout(screenWidth_)));
    ConnectPanes(*session_, SessionPanes{panel_, graph_, gauge_});
    connect(panel_, &ControlPanel::exitRequested, this, &MainWindow::RequestClose);
    connect(graph_, &TrendGraph::hintChanged, this,
            [this](const QString& hint) { SetStatusText(kPromptPane, hint); });

    setFixedSize(layout_.client);
    // Every pane builds its controls at its first update, once its size is known.
    graph_->InitialUpdate();
    data_->InitialUpdate();
    gauge_->InitialUpdate();
    panel_->InitialUpdate();
}

void MainWindow::SetStatusText(int pane, const QString& text) {
    if (pane == kProgressPane && noticeHold_->isActive()) {
        waitingProgress_ = text;
        return;
    }
    QLabel* label = statusPanes_.at(pane);
    label->setText(text);
    if (pane == kPortPane)
        FitPortPane();
    label->repaint();
}

void MainWindow::PostNotice(const QString& text) {
    constexpr int kKept = 8;
    notices_ << text;
    while (notices_.size() > kKept)
        notices_.removeFirst();
    statusPanes_[kProgressPane]->setToolTip(notices_.join(QLatin1Char('\n')));
    noticeQueue_ << text;
    if (!noticeHold_->isActive())
        ShowNextNotice();
}

void MainWindow::WithdrawNotice(const QString& text) {
    noticeQueue_.removeAll(text);
    QLabel* label = statusPanes_[kProgressPane];
    if (label->text() != text)
        return;
    noticeHold_->stop();
    if (noticeQueue_.isEmpty() && waitingProgress_.isEmpty()) {
        label->setText(coveredText_);
        label->repaint();
        return;
    }
    ShowNextNotice();
}

void MainWindow::ShowNextNotice() {
    QLabel* label = statusPanes_[kProgressPane];
    if (!noticeQueue_.isEmpty()) {
        coveredText_ = label->text();
        label->setText(noticeQueue_.takeFirst());
        noticeHold_->start();
        // A progress text from before the notice is out of date by now.
        waitingProgress_.clear();
    } else if (!waitingProgress_.isEmpty()) {
        label->setText(std::exchange(waitingProgress_, QString()));
    }
    label->repaint();
}

void MainWindow::FitPortPane() {
    // Port names on Linux are longer than COM3: the port pane widens to show the whole text,
    // taking from the progress pane, which keeps its 200 pixels.
    QLabel* port = statusPanes_[kPortPane];
    const int widest = layout_.client.width() - kStatusWidths[0] - kStatusWidths[1] - kStatusStretchMinimum -
                       kStatusBarSlack;
    // A label's size hint never falls below its minimum width: that goes first, so that a short
    // text after a long one gives the pane its own width back.
    port->setMinimumWidth(0);
    port->setFixedWidth(std::max(kStatusWidths[kPortPane], std::min(port->sizeHint().width(), widest)));
}

QString MainWindow::StatusText(int pane) const {
    return statusPanes_.at(pane)->text();
}

void MainWindow::RequestClose() {
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::UpdateClock() {
    // A label of fixed size in both directions repaints itself on a new text without asking
    // the status bar (and with it the window) to lay out again; opaque, it repaints alone.
    QLabel* clock = statusPanes_[kClockPane];
    if (clock->isVisible() && clock->minimumHeight() != clock->maximumHeight()) {
        clock->setFixedHeight(clock->height());
        clock->setAutoFillBackground(true);
    }
    SetStatusText(kClockPane, QString::fromStdU16String(FormatClock(WallTimeNow())));
}

bool MainWindow::event(QEvent* event) {
    // Menu prompts go to the first status pane, not over the whole bar.
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        SetStatusText(kPromptPane, tip.isEmpty() ? QStringLiteral("Ready") : tip);
        return true;
    }
    return QMainWindow::event(event);
}

} // namespace zelvox
