// The journals and logs that appear in followed folders after they were read: a new run's
// journal, a logger's new log. A file is new when it was not seen before by device and inode (a
// log that logrotate renames within the folder is the same file, already read), is not gzip (a
// compressed log is an older one packed) and its first line is a journal's or a logger's header.
// The folders' change notices drive it (nothing is polled while no file is made, renamed or
// removed); a file made before its first line is written is looked at again as it is written.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <utility>

namespace zelvox {

class JournalFolderWatch : public QObject {
    Q_OBJECT
public:
    // seen: the files already read (their paths); what else the folders hold now is looked at
    // as if it had just appeared.
    JournalFolderWatch(const QStringList& folders, const QStringList& seen, QObject* parent = nullptr);

    // The file followed under its name (its next files, after a rotation, are its follower's).
    void SetFollowed(const QString& path);

signals:
    void appeared(const QString& path);

private:
    using Identity = std::pair<quint64, quint64>;
    void Scan(const QString& folder);
    // Looks at one file: taken up, passed over for good, or left to be looked at when written.
    void Consider(const QString& path);
    void Know(const QString& path);

    QFileSystemWatcher watcher_;
    QSet<Identity> known_;
    QSet<QString> waiting_;
    QString followed_;
};

} // namespace zelvox
