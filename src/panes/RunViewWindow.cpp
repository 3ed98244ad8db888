#include "panes/RunViewWindow.h"

#include "decode/Format.h"
#include "decode/Labels.h"
#include "journal/JournalLoader.h"
#include "journal/RecordKeeper.h"
#include "panes/GraphExport.h"
#include "panes/ReadoutLines.h"
#include "panes/RunBrokerFeed.h"
#include "panes/RunEventsDock.h"
#include "panes/RunJournalFeed.h"
#include "panes/RunPlot.h"
#include "panes/RunSourceGroups.h"
#include "record/EventsFile.h"
#include "record/JournalFolder.h"
#include "record/LaneTable.h"
#include "record/ReadingRecord.h"
#include "runview/SpanStatistics.h"
#include "runview/TimeTicks.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QStatusBar>
#include <QSvgGenerator>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <cstring>
#include <map>

namespace zelvox {

namespace {

QString Label(std::u16string_view s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

QString Number(double v) {
    return QString::number(v, 'g', 8);
}

// "3 d 04:05:06.789", "04:05.250", "0.020 s"
QString Duration(std::int64_t ms) {
    const bool negative = ms < 0;
    ms = std::abs(ms);
    const std::int64_t days = ms / 86400000, h = ms / 3600000 % 24, m = ms / 60000 % 60;
    const double s = static_cast<double>(ms % 60000) / 1000;
    QString text;
    if (ms < 60000)
        text = QStringLiteral("%1 s").arg(s, 0, 'f', 3);
    else
        text = QStringLiteral("%1:%2:%3")
                   .arg(h, 2, 10, QLatin1Char('0'))
                   .arg(m, 2, 10, QLatin1Char('0'))
                   .arg(s, 6, 'f', 3, QLatin1Char('0'));
    if (days > 0)
        text = QStringLiteral("%1 d ").arg(days) + text;
    return negative ? QLatin1Char('-') + text : text;
}

} // namespace

RunViewWindow::RunViewWindow(std::shared_ptr<RunIndex> index, QWidget* parent)
    : QMainWindow(parent), index_(index ? index : std::make_shared<RunIndex>()) {
    const bool live = index != nullptr; // someone else appends to it
    setWindowTitle(QStringLiteral("Run View - Zelvox"));
    setObjectName(QStringLiteral("RunView"));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    plot_ = new RunPlot(*index_, central);
    plot_->SetLive(live);
    plot_->setObjectName(QStringLiteral("RunPlot"));
    readout_ = new ReadoutLines(central);
    readout_->setObjectName(QStringLiteral("RunReadout"));
    readout_->setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 9));
    layout->addWidget(plot_, 1);
    layout->addWidget(readout_);
    setCentralWidget(central);
    hover_ = new QLabel(this);
    hover_->setObjectName(QStringLiteral("RunHover"));
    progress_ = new QLabel(this);
    progress_->setObjectName(QStringLiteral("RunProgress"));
    statusBar()->addWidget(hover_, 1);
    statusBar()->addPermanentWidget(progress_);
    growth_ = new QTimer(this);
    growth_->setSingleShot(true);
    // A live run's picture and figures are brought up to date once a second (the meter's
    // readings come at most twice a second; the main window shows each at once), a file being
    // read a few times a second, and a followed file's rows in the wake-up that brought them.
    growth_->setInterval(30);
    connect(growth_, &QTimer::timeout, this, &RunViewWindow::BringUpToDate);
    connect(plot_, &RunPlot::hoverChanged, hover_, &QLabel::setText);
    connect(plot_, &RunPlot::viewChanged, this, &RunViewWindow::UpdateReadout);
    connect(plot_, &RunPlot::cursorsChanged, this, &RunViewWindow::UpdateReadout);
    BuildMenus();
    connect(plot_, &RunPlot::followChanged, follow_, &QAction::setChecked);
    resize(1000, 640);
    UpdateReadout();
}

RunViewWindow::~RunViewWindow() {
    delete feed_; // stops the reading before the index goes
    for (const QPointer<RunJournalFeed>& f : sourceFeeds_)
        delete f;
}

void RunViewWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("Open Journals..."), QKeySequence::Open, this,
                    &RunViewWindow::OnOpenFiles);
    file->addAction(QStringLiteral("Open Folder..."), this, &RunViewWindow::OnOpenFolder);
    file->addSeparator();
    file->addAction(QStringLiteral("Save Span as CSV..."), QKeySequence::Save, this,
                    &RunViewWindow::OnSaveSpan);
    file->addAction(QStringLiteral("Save Picture..."), this, &RunViewWindow::OnSavePicture);
    file->addAction(QStringLiteral("Print..."), QKeySequence::Print, this, &RunViewWindow::OnPrint);
    file->addSeparator();
    file->addAction(QStringLiteral("Close"), QKeySequence::Close, this, &QWidget::close);

    QMenu* lanes = menuBar()->addMenu(QStringLiteral("&Lanes"));
    lanes->addAction(QStringLiteral("Add Power Lane"), this, &RunViewWindow::AddPowerLane);
    lanes->addAction(QStringLiteral("Add Derived Lane..."), this, &RunViewWindow::OnAddDerived);
    lanes->addSeparator();
    lanes->addAction(QStringLiteral("Overlay Two Lanes..."), this, &RunViewWindow::OnOverlay);
    lanes->addAction(QStringLiteral("End Overlay"), this, &RunViewWindow::EndOverlay);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QToolBar* bar = addToolBar(QStringLiteral("View"));
    bar->setMovable(false);
    QAction* fit = view->addAction(QStringLiteral("Fit all"), plot_, &RunPlot::FitAll);
    fit->setShortcut(Qt::Key_F);
    follow_ = view->addAction(QStringLiteral("Follow live"));
    follow_->setCheckable(true);
    follow_->setChecked(plot_->FollowLive());
    connect(follow_, &QAction::toggled, plot_, &RunPlot::SetFollowLive);
    fixValues_ = view->addAction(QStringLiteral("Fix value axis"));
    fixValues_->setCheckable(true);
    connect(fixValues_, &QAction::toggled, plot_, &RunPlot::SetValueAxisFixed);
    QAction* clear = view->addAction(QStringLiteral("Clear cursors"), plot_, &RunPlot::ClearCursors);
    QAction* goTo = view->addAction(QStringLiteral("Go to..."), this, &RunViewWindow::OnGoTo);
    goTo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    for (QAction* a : {fit, follow_, fixValues_, clear})
        bar->addAction(a);

    view->addSeparator();
    events_ = new RunEventsDock(*index_, *plot_, view, this);
    addDockWidget(Qt::RightDockWidgetArea, events_);
    events_->hide(); // until the run has an event
}

void RunViewWindow::Record(RunIndex& index, const DispatchedReading& d) {
    index.Append(d.at.EpochMs(), static_cast<int>(d.at.utcOffset.count()), d.reading, d.index, d.run);
}

void RunViewWindow::Grew() {
    ScheduleGrowth();
}

void RunViewWindow::AppendRows(RunIndex& index, const std::vector<JournalRow>& rows, qint64 run) {
    for (const JournalRow& r : rows)
        index.Append(r.at.EpochMs(), static_cast<int>(r.at.utcOffset.count()), r.reading,
                     static_cast<std::int64_t>(r.index), run);
}

void RunViewWindow::AddRows(const std::vector<JournalRow>& rows, qint64 run) {
    AppendRows(*index_, rows, run);
    ScheduleGrowth();
}

ParallelRuns& RunViewWindow::EnsureParallel(const QString& firstName) {
    if (!parallel_) {
        parallel_ = std::make_unique<ParallelRuns>();
        parallel_->AddSource(firstName.toStdString(), index_);
        plot_->SetParallel(parallel_.get());
    }
    return *parallel_;
}

int RunViewWindow::AddSource(const QString& name, std::shared_ptr<RunIndex> index) {
    const int s = EnsureParallel(QStringLiteral("run")).AddSource(name.toStdString(), std::move(index));
    ScheduleGrowth();
    return s;
}

bool RunViewWindow::AddDerivedLane(DerivedKind kind, LaneRef a, LaneRef b) {
    if (!EnsureParallel(QStringLiteral("run")).AddDerived(kind, a, b))
        return false;
    // Added after the files were read: their last readings pair with what there is, as the
    // lanes made while reading did at its end (else they would wait for readings to come).
    if (!reading_)
        parallel_->Update(true);
    ScheduleGrowth();
    return true;
}

void RunViewWindow::AddPowerLane() {
    powerWanted_ = false;
    if (const auto pair = EnsureParallel(QStringLiteral("run")).PowerPair())
        AddDerivedLane(DerivedKind::kPower, pair->first, pair->second);
    else if (reading_ || plot_->Live())
        powerWanted_ = true; // once the lanes are read
    else
        QMessageBox::information(this, QStringLiteral("Zelvox"),
                                 QStringLiteral("A power lane needs a voltage lane and a current lane."));
}

void RunViewWindow::OnAddDerived() {
    ParallelRuns& runs = EnsureParallel(QStringLiteral("run"));
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Add Derived Lane"));
    auto* form = new QFormLayout(&dialog);
    auto* kind = new QComboBox(&dialog);
    kind->addItems({QStringLiteral("Power (voltage \u00D7 current)"),
                    QStringLiteral("Ratio (first / second)"), QStringLiteral("Difference (first - second)")});
    auto* first = new QComboBox(&dialog);
    auto* second = new QComboBox(&dialog);
    std::vector<LaneRef> refs;
    for (std::size_t src = 0; src < runs.SourceCount(); ++src)
        for (std::size_t l = 0; l < runs.Source(src).LaneCount(); ++l) {
            const LaneRef r{static_cast<int>(src), static_cast<int>(l)};
            refs.push_back(r);
            first->addItem(QString::fromStdString(runs.LaneTitle(r)));
            second->addItem(QString::fromStdString(runs.LaneTitle(r)));
        }
    if (second->count() > 1)
        second->setCurrentIndex(1);
    form->addRow(QStringLiteral("Lane"), kind);
    form->addRow(QStringLiteral("First"), first);
    form->addRow(QStringLiteral("Second"), second);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (refs.empty() || dialog.exec() != QDialog::Accepted)
        return;
    if (!AddDerivedLane(static_cast<DerivedKind>(kind->currentIndex()),
                        refs[static_cast<std::size_t>(first->currentIndex())],
                        refs[static_cast<std::size_t>(second->currentIndex())]))
        QMessageBox::warning(
            this, QStringLiteral("Zelvox"),
            QStringLiteral("These lanes do not make that lane: a power needs a voltage and a "
                           "current, a ratio or difference two lanes of one unit."));
}

bool RunViewWindow::OverlayLanes(std::size_t a, std::size_t b, bool atCursors) {
    const std::vector<ShownLane> lanes = plot_->Shown();
    if (a >= lanes.size() || b >= lanes.size() || a == b ||
        (atCursors && !(plot_->Cursor(0) && plot_->Cursor(1))))
        return false;
    RunPlot::Overlay o{lanes[a], lanes[b], AlignAtStarts(*lanes[a].store, *lanes[b].store)};
    if (atCursors) {
        o.align.startA = *plot_->Cursor(0);
        o.align.startB = *plot_->Cursor(1);
    }
    plot_->SetOverlay(o);
    UpdateReadout();
    return true;
}

void RunViewWindow::EndOverlay() {
    if (!plot_->CurrentOverlay())
        return;
    plot_->SetOverlay(std::nullopt);
    UpdateReadout();
}

void RunViewWindow::OnOverlay() {
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Overlay Two Lanes"));
    auto* form = new QFormLayout(&dialog);
    auto* first = new QComboBox(&dialog);
    auto* second = new QComboBox(&dialog);
    for (const ShownLane& lane : plot_->Shown()) {
        first->addItem(QString::fromStdString(lane.Title()));
        second->addItem(QString::fromStdString(lane.Title()));
    }
    if (second->count() > 1)
        second->setCurrentIndex(1);
    auto* align = new QComboBox(&dialog);
    align->addItems(
        {QStringLiteral("At their starts"), QStringLiteral("At cursor A in the first, B in the second")});
    form->addRow(QStringLiteral("First"), first);
    form->addRow(QStringLiteral("Laid over it"), second);
    form->addRow(QStringLiteral("Aligned"), align);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (first->count() < 2 || dialog.exec() != QDialog::Accepted)
        return;
    if (!OverlayLanes(static_cast<std::size_t>(first->currentIndex()),
                      static_cast<std::size_t>(second->currentIndex()), align->currentIndex() == 1))
        QMessageBox::warning(this, QStringLiteral("Zelvox"),
                             QStringLiteral("Pick two lanes, and place both cursors to align at them."));
}

void RunViewWindow::AddEvents(const std::vector<EventRow>& rows) {
    for (const EventRow& row : rows)
        index_->Events().Add(RunEventOf(row));
    ScheduleGrowth();
}

void RunViewWindow::BringUpToDate() {
    events_->Refresh();
    if (!eventsShown_ && events_->Count() > 0) { // any source's
        eventsShown_ = true;
        events_->show();
    }
    if (parallel_) {
        // While files are read, a voltage and a current of two sources as soon as both are there.
        if (const auto pair = powerWanted_ ? parallel_->PowerPair() : std::nullopt;
            pair && (pair->first.source != pair->second.source || !reading_))
            AddPowerLane();
        parallel_->Update();
    }
    plot_->DataGrew();
    UpdateReadout();
}

void RunViewWindow::ScheduleGrowth() {
    if (!growth_->isActive())
        growth_->start(feed_ ? (reading_ ? 250 : 0) : plot_->Live() ? 1000 : 30);
}

namespace {

// The windows that show files, by what they were opened on: a second open of the same raises
// the first.
QList<QPointer<RunViewWindow>>& SourceWindows() {
    static QList<QPointer<RunViewWindow>> windows;
    return windows;
}

QString SourceKey(const QStringList& paths) {
    QStringList keys;
    for (const QString& path : paths) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        keys << (canonical.isEmpty() ? path : canonical);
    }
    keys.sort();
    return keys.join(QLatin1Char('\n'));
}

} // namespace

RunViewWindow* RunViewWindow::ShowingSource(const QStringList& paths) {
    const QString key = SourceKey(paths);
    for (const QPointer<RunViewWindow>& w : SourceWindows())
        if (w && w->sourceKey_ == key)
            return w;
    return nullptr;
}

void RunViewWindow::Open(const QStringList& arguments) {
    if (RunViewWindow* shown = ShowingSource(arguments)) {
        shown->show();
        shown->raise();
        shown->activateWindow();
        return;
    }
    if (index_->Size() > 0 || feed_ || !sourceKey_.isEmpty()) {
        // A window shows one run or one set of journals: others open beside it.
        auto* other = new RunViewWindow();
        other->setAttribute(Qt::WA_DeleteOnClose);
        other->show();
        other->Open(arguments);
        return;
    }
    // Several sources side by side, or one (a label given to it names nothing more).
    const std::vector<RunSourceGroup> groups = GroupRunSources(arguments);
    if (groups.size() > 1) {
        sourceKey_ = SourceKey(arguments);
        SourceWindows().removeAll(nullptr);
        SourceWindows() << QPointer<RunViewWindow>(this);
        OpenParallel(groups);
        return;
    }
    const QStringList paths = groups.empty() ? arguments : groups.front().paths;
    sourceKey_ = SourceKey(arguments);
    SourceWindows().removeAll(nullptr);
    SourceWindows() << QPointer<RunViewWindow>(this);
    auto* feed = new RunJournalFeed(paths, true, this);
    feed_ = feed;
    reading_ = true;
    connect(feed, &RunJournalFeed::rowsRead, this, &RunViewWindow::AddRows);
    connect(feed, &RunJournalFeed::eventsRead, this, &RunViewWindow::AddEvents);
    connect(feed, &RunJournalFeed::progress, progress_, &QLabel::setText);
    // A note goes beside the file its instant was read from.
    events_->SetNoteWriter([this](const EventRow& row, QString* why) {
        const RunIndex& s = *index_;
        if (!feed_ || s.Size() == 0) {
            *why = QStringLiteral("no file was read");
            return false;
        }
        const std::int64_t run = s.RunOf(std::min(s.LowerBound(row.at.EpochMs()), s.Size() - 1));
        const QStringList& files = feed_->Sources().files;
        if (run < 0 || run >= files.size()) {
            *why = QStringLiteral("no file holds that instant");
            return false;
        }
        int error = 0;
        if (!AppendEventRow(files[run].toStdString(), row, &error)) {
            *why =
                QStringLiteral("%1: %2").arg(QString::fromStdString(EventsFilePath(files[run].toStdString())),
                                             QString::fromLocal8Bit(std::strerror(error)));
            return false;
        }
        return true;
    });
    connect(feed, &RunJournalFeed::finished, this, [this](const QString& report, const QString& details) {
        ShowReport(report, details);
        reading_ = false;
        ScheduleGrowth();
    });
    connect(feed, &RunJournalFeed::followed, this, [this](const QString& text) {
        // A followed file grows as a live run does.
        plot_->SetLive(true);
        progress_->setText(report_ + QStringLiteral("; ") + text);
    });
    const QStringList& files = feed->Sources().files;
    setWindowTitle(
        QStringLiteral("%1 - Run View - Zelvox")
            .arg(files.size() == 1 ? files.first() : QStringLiteral("%1 files").arg(files.size())));
    feed->Start();
}

void RunViewWindow::OpenParallel(const std::vector<RunSourceGroup>& groups) {
    reading_ = true;
    QStringList names;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const RunSourceGroup& group = groups[g];
        names << group.name;
        std::shared_ptr<RunIndex> index = g == 0 ? index_ : std::make_shared<RunIndex>();
        if (g == 0)
            EnsureParallel(group.name);
        else
            AddSource(group.name, index);
        auto* feed = new RunJournalFeed(group.paths, true, this);
        if (g == 0)
            feed_ = feed;
        else
            sourceFeeds_.emplace_back(feed);
        ++feedsReading_;
        connect(feed, &RunJournalFeed::rowsRead, this,
                [this, index](const std::vector<JournalRow>& rows, qint64 run) {
                    AppendRows(*index, rows, run);
                    ScheduleGrowth();
                });
        connect(feed, &RunJournalFeed::eventsRead, this, [this, index](const std::vector<EventRow>& rows) {
            for (const EventRow& row : rows)
                index->Events().Add(RunEventOf(row));
            ScheduleGrowth();
        });
        connect(feed, &RunJournalFeed::progress, progress_, [this, name = group.name](const QString& text) {
            progress_->setText(name + QStringLiteral(": ") + text);
        });
        connect(feed, &RunJournalFeed::finished, this,
                [this, name = group.name](const QString& report, const QString& details) {
                    reports_ << name + QStringLiteral(": ") + report;
                    details_ << name + QStringLiteral(":\n") + details;
                    if (--feedsReading_ == 0)
                        ReadingEnded();
                });
        connect(feed, &RunJournalFeed::followed, this, [this, name = group.name](const QString& text) {
            plot_->SetLive(true);
            progress_->setText(report_ + QStringLiteral("; ") + name + QStringLiteral(": ") + text);
        });
    }
    setWindowTitle(QStringLiteral("%1 - Run View - Zelvox").arg(names.join(QStringLiteral(", "))));
    for (std::size_t g = 0; g < groups.size(); ++g)
        (g == 0 ? feed_.data() : sourceFeeds_[g - 1].data())->Start();
}

void RunViewWindow::ReadingEnded() {
    ShowReport(reports_.join(QStringLiteral("; ")), details_.join(QStringLiteral("\n\n")));
    reading_ = false;
    if (parallel_) {
        // What the files held is all there: the readings at the ends pair with what there is.
        if (powerWanted_ && parallel_->PowerPair())
            AddPowerLane();
        parallel_->Update(true);
    }
    ScheduleGrowth();
}

void RunViewWindow::ShowReport(const QString& report, const QString& feedDetails) {
    // One short status text; the details, the first few of each kind, in its tooltip.
    constexpr int kListed = 10;
    constexpr qsizetype kStatusChars = 160, kReportChars = 4000;
    const auto at = [&](std::int64_t i) {
        return QString::fromStdString(
            FormatLocalTime(index_->Time(i), index_->Offsets().At(index_->Time(i))));
    };
    QStringList gaps, setBacks;
    std::int64_t gapCount = 0;
    const auto& breaks = index_->Breaks();
    for (std::size_t k = 1; k < breaks.size(); ++k) {
        const IndexBreak& b = breaks[k];
        if (index_->RunOf(b.at - 1) != b.run) // a new run or file, not a gap
            continue;
        if (++gapCount <= kListed)
            gaps << QStringLiteral("Index %1 after %2, at %3")
                        .arg(b.firstIndex)
                        .arg(index_->IndexOf(b.at - 1))
                        .arg(at(b.at));
    }
    for (const RunIndex::SetBack& s : index_->SetBacks()) {
        if (setBacks.size() == kListed)
            break;
        setBacks << QStringLiteral("Index %1 recorded at %2, drawn at %3")
                        .arg(index_->IndexOf(s.at))
                        .arg(QString::fromStdString(
                                 FormatLocalTime(s.recordedMs, index_->Offsets().At(s.recordedMs))),
                             at(s.at));
    }
    QString status = report.size() > kStatusChars ? report.left(kStatusChars - 1) + QChar(0x2026) : report;
    QString details =
        feedDetails.size() > kReportChars ? feedDetails.left(kReportChars - 1) + QChar(0x2026) : feedDetails;
    const auto list = [&](std::int64_t count, const QString& what, const QStringList& first) {
        if (count == 0)
            return;
        status += QStringLiteral("; %1 %2").arg(count).arg(what);
        details += QStringLiteral("\n\n%1 %2%3:\n")
                       .arg(count)
                       .arg(what, count > first.size() ? QStringLiteral(" (the first %1)").arg(first.size())
                                                       : QString()) +
                   first.join(QLatin1Char('\n'));
    };
    list(gapCount, QStringLiteral("Index gaps"), gaps);
    list(index_->ClockSetBack(), QStringLiteral("readings whose clock went back"), setBacks);
    report_ = status;
    progress_->setText(status);
    progress_->setToolTip(details);
}

bool RunViewWindow::OpenBroker(const MqttTarget& target, QString* why) {
    auto* feed = new RunBrokerFeed(target, this);
    std::string error;
    if (!feed->Start(&error)) {
        delete feed;
        *why = QString::fromStdString(error);
        return false;
    }
    sourceKey_ = QString::fromStdString(target.Name());
    plot_->SetLive(true);
    setWindowTitle(QStringLiteral("%1 - Run View - Zelvox").arg(sourceKey_));
    // Each meter a group of lanes in this window: the first is the window's own run.
    auto indices = std::make_shared<std::map<QString, std::shared_ptr<RunIndex>>>();
    auto statuses = std::make_shared<std::map<QString, QString>>();
    const auto indexOf = [this, indices](const QString& meter) -> RunIndex& {
        if (const auto it = indices->find(meter); it != indices->end())
            return *it->second;
        if (indices->empty()) {
            (*indices)[meter] = index_;
            setWindowTitle(QStringLiteral("%1 - Run View - Zelvox").arg(meter));
        } else {
            if (!parallel_)
                EnsureParallel(indices->begin()->first);
            auto index = std::make_shared<RunIndex>();
            AddSource(meter, index);
            (*indices)[meter] = index;
            QStringList meters;
            for (std::size_t src = 0; src < parallel_->SourceCount(); ++src)
                meters << QString::fromStdString(parallel_->SourceName(src));
            setWindowTitle(QStringLiteral("%1 - Run View - Zelvox").arg(meters.join(QStringLiteral(", "))));
        }
        return *(*indices)[meter];
    };
    const auto show = [](RunViewWindow* w) {
        w->progress_->setText(w->meterStatus_.isEmpty() ? w->link_
                                                        : w->link_ + QStringLiteral("; ") + w->meterStatus_);
    };
    connect(feed, &RunBrokerFeed::rowsRead, this,
            [this, indexOf](const QString& meter, const std::vector<JournalRow>& rows, qint64 run) {
                AppendRows(indexOf(meter), rows, run);
                ScheduleGrowth();
            });
    connect(feed, &RunBrokerFeed::statusChanged, this,
            [this, indexOf, statuses, show](const QString& meter, const QString& status) {
                indexOf(meter);
                (*statuses)[meter] = QStringLiteral("%1 is %2").arg(meter, status);
                QStringList all;
                for (const auto& [name, text] : *statuses)
                    all << text;
                meterStatus_ = all.join(QStringLiteral(", "));
                show(this);
            });
    // A meter's alarm events go with its own readings.
    connect(feed, &RunBrokerFeed::eventRead, this,
            [this, indexOf](const QString& meter, const EventRow& event) {
                indexOf(meter).Events().Add(RunEventOf(event));
                ScheduleGrowth();
            });
    connect(feed, &RunBrokerFeed::linkChanged, this, [this, show](const QString& text) {
        link_ = text;
        show(this);
    });
    link_ = QStringLiteral("connecting to %1").arg(sourceKey_);
    show(this);
    return true;
}

QString RunViewWindow::ReadoutText() const {
    return readout_->Text();
}

void RunViewWindow::UpdateReadout() {
    QStringList lines;
    if (const auto& overlay = plot_->CurrentOverlay()) {
        // The two spans of the same time since start, side by side.
        const auto [from, to] = plot_->StatisticsSpan();
        const OverlayComparison c = CompareOverlay(overlay->align, from, to);
        lines << QStringLiteral("Overlay: %1 span +%2 .. +%3 since the start")
                     .arg(plot_->Cursor(0) && plot_->Cursor(1) ? QStringLiteral("Cursor")
                                                               : QStringLiteral("Visible"),
                          Duration(overlay->align.SinceStart(from)), Duration(overlay->align.SinceStart(to)));
        for (const auto& [lane, st] : {std::pair{&overlay->a, c.a}, std::pair{&overlay->b, c.b}}) {
            QString line =
                QStringLiteral("%1: count %2").arg(QString::fromStdString(lane->Title())).arg(st.count);
            if (st.count > 0)
                line += QStringLiteral("  mean %1  \u03C3 %2  min %3  max %4 %5")
                            .arg(Number(st.mean), Number(st.stdDev), Number(st.min), Number(st.max),
                                 QString::fromStdString(lane->unit));
            lines << line;
        }
        if (c.a.count > 0 && c.b.count > 0)
            lines << QStringLiteral("Difference of means (second - first): %1 %2")
                         .arg(Number(c.meanDifference), QString::fromStdString(overlay->a.unit));
        readout_->SetLines(lines);
        return;
    }
    // A cursor's reading in each source: the one nearest in time; outside a run, none.
    const auto valueAt = [](const RunIndex& s, std::int64_t at) {
        if (s.Size() == 0 || at < s.Time(0) || at > s.Time(s.Size() - 1))
            return QString();
        std::int64_t i = s.LowerBound(at);
        if (i == s.Size() || (i > 0 && at - s.Time(i - 1) < s.Time(i) - at))
            --i;
        return QStringLiteral("  %1 %2").arg(Label(FormatTableValue(s.Value(i), s.PointPosition(i))),
                                             Label(unitLabels[s.FunctionOf(i)]));
    };
    const auto describe = [&](int which) {
        const auto at = plot_->Cursor(which);
        if (!at)
            return QString();
        QString text = QStringLiteral("%1 %2")
                           .arg(which == 0 ? QLatin1Char('A') : QLatin1Char('B'))
                           .arg(QString::fromStdString(FormatLocalTime(*at, index_->Offsets().At(*at))));
        for (std::size_t src = 0; src < plot_->SourceCount(); ++src)
            text += valueAt(plot_->SourceIndex(static_cast<int>(src)), *at);
        return text;
    };
    QString cursors = describe(0);
    if (plot_->Cursor(1))
        cursors += (cursors.isEmpty() ? QString() : QStringLiteral("    ")) + describe(1);
    if (plot_->Cursor(0) && plot_->Cursor(1))
        cursors += QStringLiteral("    \u0394t %1").arg(Duration(*plot_->Cursor(1) - *plot_->Cursor(0)));
    const auto [from, to] = plot_->StatisticsSpan();
    const bool between = plot_->Cursor(0) && plot_->Cursor(1);
    lines << (cursors.isEmpty() ? QStringLiteral("No cursors (double-click to place A and B)") : cursors);
    lines << QStringLiteral("%1 span: %2 .. %3  (%4)")
                 .arg(between ? QStringLiteral("Cursor") : QStringLiteral("Visible"),
                      QString::fromStdString(FormatLocalTime(from, index_->Offsets().At(from))),
                      QString::fromStdString(FormatLocalTime(to, index_->Offsets().At(to))),
                      Duration(to - from));
    for (const ShownLane& lane : plot_->Shown()) {
        LaneStatistics st = StoreStatistics(*lane.store, from, to);
        if (st.count + st.overHigh + st.overLow == 0)
            continue;
        st.function = lane.function;
        st.hasCharge = lane.hasCharge;
        st.charge = st.integral / 3.6e6;
        const QString unit = QString::fromStdString(lane.unit);
        QString line = QStringLiteral("%1: count %2").arg(QString::fromStdString(lane.Title())).arg(st.count);
        if (st.count > 0)
            line += QStringLiteral("  min %1  max %2  mean %3  \u03C3 %4  p-p %5 %6")
                        .arg(Number(st.min), Number(st.max), Number(st.mean), Number(st.stdDev),
                             Number(st.peakToPeak), unit);
        if (st.hasCharge)
            line += QStringLiteral("  charge %1 %2")
                        .arg(Number(st.charge), QString::fromStdString(ChargeUnit(st.function)));
        if (lane.hasEnergy)
            line += QStringLiteral("  energy %1 W\u00B7h").arg(Number(st.integral / 3.6e6));
        if (st.overHigh + st.overLow > 0)
            line += QStringLiteral("  overloads: 0L %1, -0L %2").arg(st.overHigh).arg(st.overLow);
        if (lane.source >= 0 && !plot_->SourceIndex(lane.source).Events().Spans().empty()) {
            const RunIndex& source = plot_->SourceIndex(lane.source);
            line += QStringLiteral("  time outside limits %1")
                        .arg(Duration(source.Events().OutsideMs(source, lane.lane, from, to)));
        }
        lines << line;
    }
    readout_->SetLines(lines);
}

std::int64_t RunViewWindow::FromLocal(const QDateTime& local) const {
    // The wall clock as the run recorded it: its offset at about that instant.
    const std::int64_t wall = QDateTime(local.date(), local.time(), Qt::UTC).toMSecsSinceEpoch();
    const std::int64_t guess = wall - std::int64_t{index_->Offsets().At(wall)} * 1000;
    return wall - std::int64_t{index_->Offsets().At(guess)} * 1000;
}

QDateTime RunViewWindow::ToLocal(std::int64_t ms) const {
    const QDateTime wall =
        QDateTime::fromMSecsSinceEpoch(ms + std::int64_t{index_->Offsets().At(ms)} * 1000, Qt::UTC);
    return QDateTime(wall.date(), wall.time());
}

void RunViewWindow::GoTo(GoToTarget target, std::int64_t fromMs, std::int64_t toMs) {
    switch (target) {
    case GoToTarget::kSpan:
        if (toMs > fromMs) {
            plot_->SetFollowLive(false);
            plot_->ShowSpan(static_cast<double>(fromMs), static_cast<double>(toMs));
        }
        break;
    case GoToTarget::kCursorA:
    case GoToTarget::kCursorB:
        plot_->SetCursor(target == GoToTarget::kCursorA ? 0 : 1, fromMs);
        break;
    }
}

void RunViewWindow::OnGoTo() {
    // From and to in the run's local time, or from and a duration; a cursor takes "From".
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Go to"));
    auto* form = new QFormLayout(&dialog);
    auto* what = new QComboBox(&dialog);
    what->addItems({QStringLiteral("Visible span"), QStringLiteral("Cursor A"), QStringLiteral("Cursor B")});
    const auto [spanFrom, spanTo] = plot_->StatisticsSpan();
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
    auto* from = new QDateTimeEdit(ToLocal(spanFrom), &dialog);
    auto* to = new QDateTimeEdit(ToLocal(spanTo + 1), &dialog);
    from->setDisplayFormat(format);
    to->setDisplayFormat(format);
    auto* byDuration = new QCheckBox(QStringLiteral("Duration instead of To"), &dialog);
    auto* duration = new QTimeEdit(QTime(1, 0), &dialog);
    duration->setDisplayFormat(QStringLiteral("HH:mm:ss.zzz"));
    duration->setEnabled(false);
    connect(byDuration, &QCheckBox::toggled, duration, &QWidget::setEnabled);
    connect(byDuration, &QCheckBox::toggled, to, &QWidget::setDisabled);
    form->addRow(QStringLiteral("Go to"), what);
    form->addRow(QStringLiteral("From"), from);
    form->addRow(QStringLiteral("To"), to);
    form->addRow(byDuration);
    form->addRow(QStringLiteral("Duration"), duration);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const std::int64_t start = FromLocal(from->dateTime());
    const std::int64_t end =
        byDuration->isChecked() ? start + duration->time().msecsSinceStartOfDay() : FromLocal(to->dateTime());
    GoTo(static_cast<GoToTarget>(what->currentIndex()), start, end);
}

bool RunViewWindow::SaveLaneTable(QSaveFile& file, std::int64_t from, std::int64_t to) const {
    // Every lane from its first reading in the span; each row the earliest instant any lane has
    // next, with the value of each lane that has a reading at that instant.
    const std::vector<ShownLane> lanes = plot_->Shown();
    std::vector<std::string> names;
    std::vector<std::int64_t> next, end;
    for (const ShownLane& lane : lanes) {
        names.push_back(lane.Title() + " (" + lane.unit + ")");
        next.push_back(RunIndex::LowerBound(*lane.store, from));
        end.push_back(to == INT64_MAX ? lane.store->Size() : RunIndex::LowerBound(*lane.store, to + 1));
    }
    std::string text = LaneTableHeader(names);
    std::vector<std::optional<std::string>> values(lanes.size());
    for (;;) {
        // The instant, and the source whose UTC offset it is written with: the first with a
        // reading there (the measured lanes come before the derived ones, made of their instants).
        std::optional<std::int64_t> at;
        int owner = -1;
        for (std::size_t l = 0; l < lanes.size(); ++l)
            if (next[l] < end[l] && (!at || lanes[l].store->Time(next[l]) < *at)) {
                at = lanes[l].store->Time(next[l]);
                owner = lanes[l].source;
            }
        if (!at)
            break;
        for (std::size_t l = 0; l < lanes.size(); ++l) {
            values[l].reset();
            const RunStore& s = *lanes[l].store;
            if (next[l] >= end[l] || s.Time(next[l]) != *at)
                continue;
            const double v = s.Value(next[l]);
            values[l] = lanes[l].source >= 0 ? ToUtf8(FormatTableValue(v, s.PointPosition(next[l])))
                                             : QString::number(v, 'g', 10).toStdString();
            ++next[l];
        }
        AppendLaneTableRow(text, WallTimeAt(*at, plot_->SourceIndex(owner).Offsets().At(*at)), values);
        if (text.size() > (1 << 20)) {
            file.write(text.data(), static_cast<qint64>(text.size()));
            text.clear();
        }
    }
    file.write(text.data(), static_cast<qint64>(text.size()));
    return true;
}

bool RunViewWindow::SaveSpanCsv(const QString& path, QString* why) const {
    const auto [from, to] = plot_->StatisticsSpan();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *why = file.errorString();
        return false;
    }
    if (parallel_) {
        SaveLaneTable(file, from, to);
        if (!file.commit()) {
            *why = file.errorString();
            return false;
        }
        return true;
    }
    const RunIndex& s = *index_;
    std::string text = CsvHeader();
    const std::int64_t first = index_->LowerBound(from), last = index_->LowerBound(to + 1, first, s.Size());
    for (std::int64_t i = first; i < last; ++i) {
        // As recorded: a reading whose clock went back keeps the instant it had.
        const std::int64_t ms = s.RecordedTime(i);
        const DispatchedReading d = MakeDispatchedReading(
            static_cast<int>(s.RunOf(i)), s.IndexOf(i), WallTimeAt(ms, index_->Offsets().At(s.Time(i))),
            Reading{s.Value(i), s.PointPosition(i), s.FunctionOf(i)});
        text += CsvLine(d);
        if (text.size() > (1 << 20)) {
            file.write(text.data(), static_cast<qint64>(text.size()));
            text.clear();
        }
    }
    file.write(text.data(), static_cast<qint64>(text.size()));
    if (!file.commit()) {
        *why = file.errorString();
        return false;
    }
    return true;
}

namespace {

// The page's letters, in pixels of 1/96 inch: 11.25 pt for the title, 9 pt for the plot, 8.25 pt
// for the statistics.
constexpr int kTitlePixels = 15, kPlotPixels = 12, kStatisticsPixels = 11;

QFont PageFont(const char* family, int pixels, bool bold = false) {
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

} // namespace

QString RunViewWindow::PageTitle() const {
    QString source = windowTitle();
    source.chop(std::min<qsizetype>(source.size(), QStringLiteral(" - Run View - Zelvox").size()));
    if (source.isEmpty())
        source = QStringLiteral("Run View");
    const auto [from, to] = plot_->StatisticsSpan();
    return QStringLiteral("%1   %2 .. %3")
        .arg(source, QString::fromStdString(FormatLocalTime(from, index_->Offsets().At(from))),
             QString::fromStdString(FormatLocalTime(to, index_->Offsets().At(to))));
}

QSize RunViewWindow::PageSize(int width, int plotHeight) const {
    const QFontMetrics title(PageFont("DejaVu Sans", kTitlePixels, true)),
        lines(PageFont("DejaVu Sans Mono", kStatisticsPixels));
    const qsizetype count = readout_->Text().count(QLatin1Char('\n')) + 1;
    return QSize(width, title.height() + 8 + plotHeight + 6 + static_cast<int>(count) * lines.lineSpacing());
}

void RunViewWindow::RenderPage(QPainter& p, const QRect& area) const {
    p.fillRect(area, Qt::white);
    const QFont titleFont = PageFont("DejaVu Sans", kTitlePixels, true),
                linesFont = PageFont("DejaVu Sans Mono", kStatisticsPixels);
    const QFontMetrics title(titleFont), lines(linesFont);
    const QStringList text = readout_->Text().split(QLatin1Char('\n'));
    const int linesHeight = static_cast<int>(text.size()) * lines.lineSpacing();
    p.setPen(Qt::black);
    p.setFont(titleFont);
    p.drawText(area.left() + 8, area.top() + title.ascent() + 4,
               title.elidedText(PageTitle(), Qt::ElideMiddle, area.width() - 16));
    const QRect plot = area.adjusted(0, title.height() + 8, 0, -(linesHeight + 6));
    p.setFont(PageFont("DejaVu Sans", kPlotPixels));
    plot_->Render(p, plot);
    p.setPen(Qt::black);
    p.setFont(linesFont);
    int y = plot.bottom() + 6 + lines.ascent();
    for (const QString& line : text) {
        p.drawText(area.left() + 8, y, lines.elidedText(line, Qt::ElideRight, area.width() - 16));
        y += lines.lineSpacing();
    }
}

bool RunViewWindow::SavePng(const QString& path) const {
    QImage image(PageSize(plot_->width(), plot_->height()), QImage::Format_RGB32);
    QPainter p(&image);
    RenderPage(p, image.rect());
    p.end();
    return image.save(path, "PNG");
}

bool RunViewWindow::SaveSvg(const QString& path) const {
    const QSize size = PageSize(plot_->width(), plot_->height());
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(), size));
    svg.setTitle(PageTitle());
    QPainter p;
    if (!p.begin(&svg))
        return false;
    RenderPage(p, QRect(QPoint(), size));
    return p.end();
}

void RunViewWindow::OnOpenFiles() {
    const QStringList files = QFileDialog::getOpenFileNames(
        this, QStringLiteral("Open Journals"), QString(), QStringLiteral("Journals (*.csv);;All files (*)"));
    if (!files.isEmpty())
        Open(files);
}

void RunViewWindow::OnOpenFolder() {
    const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Open Folder of Journals"));
    if (!dir.isEmpty())
        Open({dir});
}

void RunViewWindow::OnSaveSpan() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Span as CSV"), QString(),
                                                      QStringLiteral("CSV (*.csv)"));
    QString why;
    if (!path.isEmpty() && !SaveSpanCsv(path, &why))
        QMessageBox::warning(this, QStringLiteral("Zelvox"),
                             QStringLiteral("Cannot save %1: %2").arg(path, why));
}

void RunViewWindow::OnSavePicture() {
    QString filter;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Picture"), QString(),
                                                QStringLiteral("PNG (*.png);;SVG (*.svg)"), &filter);
    if (path.isEmpty())
        return;
    const bool svg =
        path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive) || filter.startsWith(QLatin1String("SVG"));
    if (!path.contains(QLatin1Char('.')))
        path += svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    if (!(svg ? SaveSvg(path) : SavePng(path)))
        QMessageBox::warning(this, QStringLiteral("Zelvox"), QStringLiteral("Cannot save %1").arg(path));
}

void RunViewWindow::PrintPage(QPainter& p, const QRect& page) const {
    // Laid out in units of 1/96 inch on the printer's own resolution: the letters keep their
    // point sizes whatever the printer's dots.
    const double scale = std::max(1, p.device()->logicalDpiX()) / 96.0;
    p.save();
    p.translate(page.topLeft());
    p.scale(scale, scale);
    RenderPage(p,
               QRect(0, 0, static_cast<int>(page.width() / scale), static_cast<int>(page.height() / scale)));
    p.restore();
}

void RunViewWindow::OnPrint() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString failure =
        PrintPageFailure(printer, [this](QPainter& p, const QRect& page) { PrintPage(p, page); });
    if (!failure.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Zelvox"),
                             QStringLiteral("Cannot print the run\n%1").arg(failure));
}

} // namespace zelvox
