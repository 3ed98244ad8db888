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

class QListView;
class QMenu;

namespace zelvox {

class RunIndex;
class RunPlot;
struct EventRow;

// The run's events, one row each, formatted only when shown.
class RunEventsModel : public QAbstractListModel {
    Q_OBJECT
public:
    RunEventsModel(const RunIndex& index, const RunPlot& plot, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& at, int role) const override;
    // Shows the events kept now, when they changed.
    void Refresh();

private:
    const RunIndex& index_;
    const RunPlot& plot_;
    std::uint64_t shown_ = ~std::uint64_t{0};
    int rows_ = 0;
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
