// Follows a journal or a logger's CSV while it is written: reads what it holds on a worker
// thread, then what is appended to it, every kPollMs from the byte where the last read ended
// (no byte is read twice, the work per row is constant), on the owner's thread: a poll is a few
// system calls and the new rows, so that a followed log costs one wake-up of one thread a poll.
//
// The file's name is watched as logrotate and a shell treat it: when a new file takes the name
// (rename and recreate), the old one is read to its end and the new one is followed from its
// start; when the file shrinks (truncated), it is read again from its start, rows with or
// without a header; when the name goes away, that is said, and a file that comes back under it
// is taken up.
#pragma once

#include "journal/JournalLoader.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <thread>
#include <vector>

namespace zelvox {

class JournalFollow : public QObject {
    Q_OBJECT
public:
    // A row is read within kPollMs of being written; the Run View draws it in the same wake-up.
    static constexpr int kPollMs = 800;

    explicit JournalFollow(const QString& path, QObject* parent = nullptr);
    // Cancels the following and waits for the worker.
    ~JournalFollow() override;

    void Start();
    QString Path() const { return path_; }

signals:
    // Rows in file order; file counts the files that held the name, from 0.
    void rowsRead(const std::vector<zelvox::JournalRow>& rows, int file);
    void progress(int percent);
    // Once, when what the file held at the start is read (report.ok false: it cannot be read or
    // is no journal, and nothing is followed).
    void caughtUp(const zelvox::JournalReport& report);
    // "ttyUSB0.log was truncated: reading it from its start", "... went away", ...
    void changed(const QString& text);

private:
    struct Shared;
    struct Followed;
    void Poll();

    QString path_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<Followed> followed_;
    QTimer poll_;
    std::thread worker_;
};

} // namespace zelvox
