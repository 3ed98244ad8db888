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
    // Reads journal files and folders in the background.
    void Open(const QStringList& paths);

    void AddRows(const std::vector<JournalRow>& rows, qint64 run);

    const RunIndex& Index() const { return *index_; }
    RunPlot& Plot() const { return *plot_; }
    // The readout under the plot, as plain text.
    QString ReadoutText() const;
    // True while files are being read.
    bool IsReading() const { return !feed_.isNull(); }

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
    void ShowReport(const QString& report);
    void ScheduleGrowth();

    std::shared_ptr<RunIndex> index_;
    RunPlot* plot_ = nullptr;
    ReadoutLines* readout_ = nullptr;
    QLabel* hover_ = nullptr;
    QLabel* progress_ = nullptr;
    QAction* follow_ = nullptr;
    QAction* fixValues_ = nullptr;
    QPointer<RunJournalFeed> feed_;
    QTimer* growth_ = nullptr;
};

} // namespace zelvox
