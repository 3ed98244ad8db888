// The Run View's events: the list of the run's alarm events and notes (a dock beside the plot;
// choosing one shows it), their entries in the View menu (next and previous event, Add Note...,
// the list) and the writing of a note: at cursor A or B, over the span between both, else at the
// view's middle, kept in the run and handed to the window's note writer (the events file beside
// the journal).
#pragma once

#include <QAbstractListModel>
#include <QDockWidget>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class QListView;
class QMenu;

namespace zelvox {

class RunIndex;
class RunPlot;
struct EventRow;

// The events of every source shown, one row each in time order, formatted only when shown.
class RunEventsModel : public QAbstractListModel {
    Q_OBJECT
public:
    RunEventsModel(const RunPlot& plot, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& at, int role) const override;
    // Shows the events kept now, when they changed.
    void Refresh();
    // The source and the event in its run that row r shows.
    std::pair<int, std::size_t> At(int r) const { return rows_[static_cast<std::size_t>(r)]; }

private:
    const RunPlot& plot_;
    std::vector<std::uint64_t> shown_;              // each source's events generation when listed
    std::vector<std::pair<int, std::size_t>> rows_; // every source's events in time order
};

class RunEventsDock : public QDockWidget {
    Q_OBJECT
public:
    // Writes a note's row beside the journal its instant belongs to; false with *why.
    using NoteWriter = std::function<bool(const EventRow& row, QString* why)>;

    RunEventsDock(RunIndex& index, RunPlot& plot, QMenu* menu, QWidget* parent);

    void SetNoteWriter(NoteWriter writer) { writer_ = std::move(writer); }
    // The events changed (read, followed, live).
    void Refresh();
    // Writes a note of text where Add Note... would; false with *why when it was kept in the
    // run but could not be saved.
    bool AddNote(const QString& text, QString* why);
    QListView& List() const { return *list_; }
    int Count() const { return model_->rowCount(); }

signals:
    void noteSaved(const QString& text);

private:
    void OnAddNote();

    RunIndex& index_;
    RunPlot& plot_;
    RunEventsModel* model_ = nullptr;
    QListView* list_ = nullptr;
    NoteWriter writer_;
};

} // namespace zelvox
