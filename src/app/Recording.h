// The window's record keeping beside the table: the readings journal, the publisher that sends
// the journal's rows to a broker, and a journal's rows loaded back into the table (`--load`).
// Each is handed to the session's record keeper (journal/RecordKeeper.h), which gives them the
// dispatched records in its order; what they have to say goes to the window's status bar.
#pragma once

#include "publish/Publisher.h"
#include "record/JournalFolder.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

namespace zelvox {

class Journal;
class MainWindow;

class Recording : public QObject {
    Q_OBJECT
public:
    // Closing the window ends the journal's run cleanly and asks the publisher to end without
    // waiting for it (a stuck broker must not hold the window); it is joined when this object
    // goes, at the program's end, and what it could not send stays in the journal.
    explicit Recording(MainWindow& window, QObject* parent = nullptr);
    ~Recording() override;

    // The journal in dir follows the session's records; pruning keeps to `keep`'s age and size
    // and spares the file `loading` and,
    // with publishTo, rows that broker has not had, and the publisher starts. False when the
    // journal is off from the start (its notice is posted, and no publisher starts).
    bool Start(const QString& dir, const QString& loading, const PruneRules& keep,
               const PublisherOptions* publishTo);
    // Reads the journal at `path` into the table on a worker thread, the window answering
    // meanwhile; progress and the outcome go to the status bar. Closing the window or RESET
    // ends it.
    void Load(const QString& path);
    // The journal file the records go to now, or empty.
    QString JournalFile() const;
    // The publisher's latest state, held back while an export had the progress pane, is shown.
    void ShowPublisherState();

private:
    void StartPublisher(const PublisherOptions& options, const QString& journalDir);

    void WindowClosed();

    QPointer<MainWindow> window_;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<Publisher> publisher_;
    QString publisherState_; // not shown yet: an export had the pane
};

} // namespace zelvox
