// Reads journal files, the logger's CSV logs and folders of them into a Run View: one file after
// another on one time axis, each its own run, in the background through the same streaming reader
// as --load (its rules for damaged rows, cut last lines, huge lines and non-regular files; gzip
// files inflated as they are read), with progress and one report of what was read and left out.
// The last file, when it is not compressed, is then followed as it grows (JournalFollow), and
// the folders named are watched for new journals and logs (JournalFolderWatch), each followed
// from its first row as the newest run.
#pragma once

#include "journal/JournalLoader.h"

#include <QObject>
#include <QStringList>
#include <map>
#include <vector>

namespace zelvox {

class JournalFolderWatch;
class JournalFollow;

// The files a set of paths names, in reading order, and what was passed over.
struct JournalSources {
    QStringList files;
    QStringList skipped; // "NAME (why)"
    QStringList folders; // the folders named: followed for the files that appear in them
};

class RunJournalFeed : public QObject {
    Q_OBJECT
public:
    // paths: files and folders. A folder's journals are read in name order (the order of their
    // first rows), then its other files that hold journal rows (the logger's CSV logs). Rotated
    // logs (PORT.log.3.gz, PORT.log.2.gz, PORT.log.1, PORT.log) are read oldest first, however
    // they are named. follow: follow the last file's growth once it is read.
    explicit RunJournalFeed(const QStringList& paths, bool follow = true, QObject* parent = nullptr);
    ~RunJournalFeed() override;

    void Start();
    const JournalSources& Sources() const { return sources_; }
    static JournalSources Resolve(const QStringList& paths);

    // At most this many of each kind of problem are named in the details.
    static constexpr int kDetailsShown = 20;

signals:
    // Rows of the file numbered run (from 0), in file order.
    void rowsRead(const std::vector<zelvox::JournalRow>& rows, qint64 run);
    // The alarm events and notes beside a file read (its NAME.events.csv), and again when that
    // file grew while followed (every row of it: the receiver passes over those it has).
    void eventsRead(const std::vector<zelvox::EventRow>& rows);
    // "Reading NAME (2 of 5): 40%"
    void progress(const QString& text);
    // Once, after what the files held is read: "Read N rows from M files; skipped: ...", and the
    // details (each file's problems, each file skipped, the first kDetailsShown of each).
    void finished(const QString& report, const QString& details);
    // The followed file grew, or what happened to it ("following NAME", "NAME went away").
    void followed(const QString& text);

private:
    void Next();
    void Took(const QString& path, const JournalReport& report);
    void ReadEvents(const QString& path);
    // Follows path, its rows numbered as the run after every run so far (and each file that
    // takes its name after a rotation as the next).
    JournalFollow* Follow(const QString& path);
    void WatchFolders();

    JournalSources sources_;
    bool follow_ = true;
    int at_ = -1;
    JournalLoad* load_ = nullptr;
    std::vector<JournalFollow*> followers_;
    JournalFolderWatch* watch_ = nullptr;
    qint64 nextRun_ = 0;
    std::int64_t rows_ = 0, damaged_ = 0;
    int unreadable_ = 0, cut_ = 0;
    QStringList problems_;
    std::map<QString, std::uint64_t> eventsRead_; // each events file's bytes read so far
};

} // namespace zelvox
