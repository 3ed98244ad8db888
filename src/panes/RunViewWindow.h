// The Run View: a top-level, resizable window that shows a whole run (live from a meter session,
// or read from journal files and folders) in its plot, with the cursors' readout and the span's
// statistics below it, and the span's rows, the picture (PNG, SVG) and a print out of it.
#pragma once

#include "runview/ParallelRuns.h"
#include "runview/RunIndex.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <vector>

class QAction;
class QDateTime;
class QLabel;
class QPainter;
class QRect;
class QSaveFile;
class QSize;
class QTimer;

namespace zelvox {

class RunEventsDock;
class RunJournalFeed;
class ReadoutLines;
class RunPlot;
struct DispatchedReading;
struct EventRow;
struct JournalRow;
struct MqttTarget;
struct RunSourceGroup;

class RunViewWindow : public QMainWindow {
    Q_OBJECT
public:
    // Shows index (a live run that someone else appends to, see Grew), or a run of its own.
    explicit RunViewWindow(std::shared_ptr<RunIndex> index = {}, QWidget* parent = nullptr);
    ~RunViewWindow() override;

    // Adds one dispatched reading to a live run's index (constant work).
    static void Record(RunIndex& index, const DispatchedReading& d);
    // The index grew: the picture follows at the next frame.
    void Grew();
    // Brings the picture and the readout up to date with the index (what the growth timer does).
    void BringUpToDate();
    // Reads journal files, logs and folders in the background, then follows the newest file's
    // growth. Paths a window already shows raise that window.
    void Open(const QStringList& paths);
    // Follows a meter on the broker live (a lab's prefix ending in '+': a window per meter);
    // false with *why when the client cannot be made.
    bool OpenBroker(const MqttTarget& target, QString* why);
    // The window that shows paths, or null.
    static RunViewWindow* ShowingSource(const QStringList& paths);

    void AddRows(const std::vector<JournalRow>& rows, qint64 run);
    static void AppendRows(RunIndex& index, const std::vector<JournalRow>& rows, qint64 run);

    // Several sources side by side: the window's own run is the first, named name when there
    // are more. The sources and derived lanes shown (null while the window shows one run alone).
    int AddSource(const QString& name, std::shared_ptr<RunIndex> index);
    const ParallelRuns* Parallel() const { return parallel_.get(); }
    // Adds a derived lane of two lanes; false when they do not make one.
    bool AddDerivedLane(DerivedKind kind, LaneRef a, LaneRef b);
    // The power of the first voltage and current lanes (of two sources when there are), now or,
    // while the files are read, as soon as both lanes exist.
    void AddPowerLane();
    // Lays lane b over lane a (lanes as the plot shows them), aligned at their first readings or
    // at cursor A in a and cursor B in b; false when there is no such lane or cursor.
    bool OverlayLanes(std::size_t a, std::size_t b, bool atCursors);
    void EndOverlay();
    // Alarm events and notes of the run (read beside its files, or from the broker).
    void AddEvents(const std::vector<EventRow>& rows);
    // The list of events, their menu entries and the notes; for a live run, where its notes go.
    RunEventsDock& Events() const { return *events_; }

    const RunIndex& Index() const { return *index_; }
    RunPlot& Plot() const { return *plot_; }
    // The readout under the plot, as plain text.
    QString ReadoutText() const;
    // True while what the files held is being read (following comes after).
    bool IsReading() const { return reading_; }

    // Go to: the visible span becomes [fromMs, toMs), or a cursor goes to fromMs. FromLocal reads
    // a wall-clock time as the run recorded it (its UTC offset at that time), ToLocal shows one.
    enum class GoToTarget { kSpan, kCursorA, kCursorB };
    void GoTo(GoToTarget target, std::int64_t fromMs, std::int64_t toMs);
    std::int64_t FromLocal(const QDateTime& local) const;
    QDateTime ToLocal(std::int64_t ms) const;

    // The rows of the statistics span in the journal's CSV format, or, with several sources or
    // a derived lane, the lanes table (record/LaneTable); false with *why on failure.
    bool SaveSpanCsv(const QString& path, QString* why) const;
    bool SavePng(const QString& path) const;
    bool SaveSvg(const QString& path) const;
    // The page that leaves the program (print, PNG, SVG): the title (source and span), the plot
    // and the statistics, in units of 1/96 inch; PrintPage lays it out on a printer's page.
    QString PageTitle() const;
    void RenderPage(QPainter& painter, const QRect& area) const;
    void PrintPage(QPainter& painter, const QRect& page) const;

private slots:
    void OnOpenFiles();
    void OnOpenFolder();
    void OnSaveSpan();
    void OnSavePicture();
    void OnPrint();
    void OnGoTo();
    void OnAddDerived();
    void OnOverlay();

private:
    void BuildMenus();
    QSize PageSize(int width, int plotHeight) const;
    void UpdateReadout();
    // The reader's report in one short status text, the feed's details and the index's gaps
    // and clocks set back in its tooltip.
    void ShowReport(const QString& report, const QString& details);
    void ScheduleGrowth();
    ParallelRuns& EnsureParallel(const QString& firstName);
    void OpenParallel(const std::vector<RunSourceGroup>& groups);
    void ReadingEnded();
    bool SaveLaneTable(QSaveFile& file, std::int64_t from, std::int64_t to) const;

    std::shared_ptr<RunIndex> index_;
    RunPlot* plot_ = nullptr;
    ReadoutLines* readout_ = nullptr;
    QLabel* hover_ = nullptr;
    QLabel* progress_ = nullptr;
    QAction* follow_ = nullptr;
    QAction* fixValues_ = nullptr;
    QPointer<RunJournalFeed> feed_;
    QString sourceKey_; // what the window was opened on
    QString report_;    // what the reading found
    bool reading_ = false;
    QString link_, meterStatus_; // a broker source: its link and the meter's status
    QTimer* growth_ = nullptr;
    std::unique_ptr<ParallelRuns> parallel_;
    std::vector<QPointer<RunJournalFeed>> sourceFeeds_; // the other sources' readers
    int feedsReading_ = 0;
    QStringList reports_, details_;
    bool powerWanted_ = false;
    RunEventsDock* events_ = nullptr;
    bool eventsShown_ = false; // the list was shown for the first events
};

} // namespace zelvox
