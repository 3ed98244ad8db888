// The Run View: a top-level, resizable window that shows a whole run (live from a meter session,
// or read from journal files and folders) in its plot, with the cursors' readout and the span's
// statistics below it, and the span's rows, the picture (PNG, SVG) and a print out of it.
#pragma once

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
class QSize;
class QTimer;

namespace zelvox {

class RunJournalFeed;
class ReadoutLines;
class RunPlot;
struct DispatchedReading;
struct JournalRow;
struct MqttTarget;

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

    // The rows of the statistics span in the journal's CSV format; false with *why on failure.
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

private:
    void BuildMenus();
    QSize PageSize(int width, int plotHeight) const;
    void UpdateReadout();
    // The reader's report in one short status text, the feed's details and the index's gaps
    // and clocks set back in its tooltip.
    void ShowReport(const QString& report, const QString& details);
    void ScheduleGrowth();

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
};

} // namespace zelvox
