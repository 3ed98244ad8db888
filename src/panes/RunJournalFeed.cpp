#include "panes/RunJournalFeed.h"

#include "journal/JournalFolderWatch.h"
#include "journal/JournalFollow.h"
#include "record/EventsFile.h"
#include "record/JournalFolder.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace zelvox {

namespace {

// Rotated logs order by their name without the rotation number, then newest last:
// ttyUSB0.log.10.gz, ..., ttyUSB0.log.2.gz, ttyUSB0.log.1, ttyUSB0.log.
struct RotationKey {
    QString base;
    long long number = 0;
    bool operator<(const RotationKey& o) const { return base != o.base ? base < o.base : number > o.number; }
};

RotationKey KeyOf(const QString& path) {
    QString name = path;
    if (name.endsWith(QLatin1String(".gz")))
        name.chop(3);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    bool digits = false;
    const long long n = dot > 0 ? name.mid(dot + 1).toLongLong(&digits) : 0;
    if (digits && n >= 0)
        return {name.left(dot), n};
    return {name, 0};
}

void SortByRotation(QStringList& files) {
    std::stable_sort(files.begin(), files.end(),
                     [](const QString& a, const QString& b) { return KeyOf(a) < KeyOf(b); });
}

QString Bounded(const QStringList& items, int shown, const QString& separator) {
    QString text = items.mid(0, shown).join(separator);
    if (items.size() > shown)
        text += separator + QStringLiteral("and %1 more").arg(items.size() - shown);
    return text;
}

QString Plural(std::int64_t n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

RunJournalFeed::RunJournalFeed(const QStringList& paths, bool follow, QObject* parent)
    : QObject(parent), sources_(Resolve(paths)), follow_(follow) {}

RunJournalFeed::~RunJournalFeed() {
    delete load_; // cancels the read and waits for its thread
    for (JournalFollow* f : followers_)
        delete f;
}

JournalSources RunJournalFeed::Resolve(const QStringList& paths) {
    JournalSources sources;
    QStringList named;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.isDir()) {
            named << path; // the reader says why anything else cannot be read
            continue;
        }
        sources.folders << path;
        // The folder's journals, oldest first: one run after another on one time axis; then
        // the other files that hold journal rows, told by their first line.
        const std::vector<std::string> newestFirst = JournalsNewestFirst(path.toStdString());
        for (auto it = newestFirst.rbegin(); it != newestFirst.rend(); ++it)
            sources.files << QString::fromStdString(*it);
        QStringList logs;
        const QDir dir(path);
        for (const QString& name : dir.entryList(QDir::Files | QDir::System, QDir::Name)) {
            if (IsJournalName(name.toStdString()))
                continue;
            QString why;
            if (HoldsJournalRows(dir.filePath(name), &why))
                logs << dir.filePath(name);
            else
                sources.skipped << QStringLiteral("%1 (%2)").arg(name, why);
        }
        SortByRotation(logs);
        sources.files << logs;
    }
    SortByRotation(named);
    sources.files << named;
    return sources;
}

JournalFollow* RunJournalFeed::Follow(const QString& path) {
    auto* follower = new JournalFollow(path);
    followers_.push_back(follower);
    if (watch_)
        watch_->SetFollowed(path);
    connect(follower, &JournalFollow::rowsRead, this,
            [this, path, file = -1, run = qint64{0}](const std::vector<JournalRow>& rows, int now) mutable {
                if (now != file) {
                    file = now;
                    run = nextRun_++;
                }
                if (at_ >= sources_.files.size())
                    rows_ += static_cast<std::int64_t>(rows.size());
                emit rowsRead(rows, run);
                ReadEvents(path);
            });
    connect(follower, &JournalFollow::changed, this, &RunJournalFeed::followed);
    return follower;
}

void RunJournalFeed::WatchFolders() {
    watch_ = new JournalFolderWatch(sources_.folders, sources_.files, this);
    if (!followers_.empty())
        watch_->SetFollowed(followers_.back()->Path());
    connect(watch_, &JournalFolderWatch::appeared, this, [this](const QString& path) {
        // A new run's journal or a new log: the newest run from now on. The file followed
        // before goes on being followed, in case its writer has more to say.
        const QString name = QFileInfo(path).fileName();
        JournalFollow* follower = Follow(path);
        connect(follower, &JournalFollow::caughtUp, this, [this, name](const JournalReport& report) {
            if (!report.ok)
                emit followed(QStringLiteral("%1 cannot be followed: %2").arg(name, report.error));
        });
        follower->Start();
        emit followed(QStringLiteral("following %1").arg(name));
    });
}

void RunJournalFeed::Start() {
    Next();
}

void RunJournalFeed::ReadEvents(const QString& path) {
    // Read on from where the last read ended; a file that shrank was replaced: from its start.
    const QFileInfo info(QString::fromStdString(EventsFilePath(path.toStdString())));
    const auto size = static_cast<std::uint64_t>(info.exists() ? info.size() : 0);
    std::uint64_t& read = eventsRead_[path];
    if (size < read)
        read = 0;
    if (size == read)
        return;
    std::uint64_t damaged = 0;
    const std::vector<EventRow> rows = ReadEventsFile(path.toStdString(), &damaged, read, &read);
    if (!rows.empty())
        emit eventsRead(rows);
}

void RunJournalFeed::Took(const QString& path, const JournalReport& report) {
    ReadEvents(path);
    rows_ += report.rows;
    damaged_ += report.damaged;
    unreadable_ += report.ok ? 0 : 1;
    cut_ += report.cutLastLine ? 1 : 0;
    if (!report.ok || report.damaged > 0 || report.cutLastLine || report.indexGaps > 0)
        problems_ << report.Summary(path);
}

void RunJournalFeed::Next() {
    if (load_) {
        load_->deleteLater();
        load_ = nullptr;
    }
    const auto files = sources_.files.size();
    if (++at_ >= files) {
        QString report =
            QStringLiteral("Read %1 rows from %2").arg(rows_).arg(Plural(files, "file", "files"));
        QStringList faults;
        if (unreadable_ > 0)
            faults << Plural(unreadable_, "file unreadable", "files unreadable");
        if (damaged_ > 0)
            faults << Plural(damaged_, "damaged line", "damaged lines");
        if (cut_ > 0)
            faults << Plural(cut_, "last line cut short", "last lines cut short");
        // Index gaps are counted once, by the window, from the run's own index.
        if (!faults.isEmpty())
            report += QStringLiteral("; ") + faults.join(QStringLiteral(", "));
        if (!sources_.skipped.isEmpty())
            report += QStringLiteral("; skipped: ") + Bounded(sources_.skipped, 3, QStringLiteral(", "));
        QStringList details;
        if (!problems_.isEmpty())
            details << Bounded(problems_, kDetailsShown, QStringLiteral("\n"));
        if (!sources_.skipped.isEmpty())
            details << QStringLiteral("Skipped:\n") +
                           Bounded(sources_.skipped, kDetailsShown, QStringLiteral("\n"));
        emit finished(report, details.join(QStringLiteral("\n")));
        nextRun_ = std::max<qint64>(nextRun_, files);
        if (follow_ && !sources_.folders.isEmpty())
            WatchFolders();
        return;
    }
    const QString path = sources_.files[at_];
    const qint64 run = at_;
    const auto percent = [this, path](int percent) {
        emit progress(QStringLiteral("Reading %1 (%2 of %3): %4%")
                          .arg(QFileInfo(path).fileName())
                          .arg(at_ + 1)
                          .arg(sources_.files.size())
                          .arg(percent));
    };
    if (follow_ && at_ == files - 1) {
        JournalBytes bytes;
        QString why;
        if (bytes.Open(path, &why) && !bytes.Compressed()) {
            // The newest file goes on growing: it is read, then followed.
            nextRun_ = run;
            JournalFollow* follower = Follow(path);
            connect(follower, &JournalFollow::progress, this, percent);
            connect(follower, &JournalFollow::caughtUp, this, [this, path](const JournalReport& report) {
                Took(path, report);
                Next();
                if (report.ok)
                    emit followed(QStringLiteral("following %1").arg(QFileInfo(path).fileName()));
            });
            follower->Start();
            return;
        }
    }
    load_ = new JournalLoad(path);
    connect(load_, &JournalLoad::rowsRead, this,
            [this, run](const std::vector<JournalRow>& rows) { emit rowsRead(rows, run); });
    connect(load_, &JournalLoad::progress, this, percent);
    connect(load_, &JournalLoad::finished, this, [this, path](const JournalReport& report) {
        Took(path, report);
        Next();
    });
    load_->Start();
}

} // namespace zelvox
