#include "journal/Journal.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvox {

namespace {

QString SystemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

// ".NAME.csv.open" while the run goes on; ".NAME.csv.interrupted" once an interrupted run is named.
QString MarkerPath(const QString& journalPath, QLatin1String suffix = QLatin1String(".open")) {
    const int slash = static_cast<int>(journalPath.lastIndexOf(QLatin1Char('/')));
    return journalPath.left(slash + 1) + QLatin1Char('.') + journalPath.mid(slash + 1) + suffix;
}

const QLatin1String kNamedSuffix(".interrupted");

// Journal names: the start time, with _2, _3... when runs start within the same second.
bool IsJournalName(const QString& name) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d(_\\d+)?\\.csv$"));
    return pattern.match(name).hasMatch();
}

// Newest first: by start time, then by the _N suffix.
QStringList JournalNamesNewestFirst(const QString& dir) {
    QStringList names;
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::NoSort))
        if (IsJournalName(name))
            names << name;
    const auto key = [](const QString& name) {
        const QString stem = name.chopped(4);
        const qsizetype under = stem.indexOf(QLatin1Char('_'));
        return std::make_pair(stem.left(under < 0 ? stem.size() : under),
                              under < 0 ? 1 : stem.mid(under + 1).toInt());
    };
    std::sort(names.begin(), names.end(),
              [&](const QString& a, const QString& b) { return key(a) > key(b); });
    return names;
}

// True when another live program holds the journal open (each writer keeps an flock on it).
bool HeldByAnotherProgram(const QString& path) {
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

} // namespace

QString DefaultJournalDir() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/zelvox/recordings");
}

struct Journal::File {
    int fd = -1;
    QString path;
    QString marker;
    off_t size = 0;                 // bytes of whole rows written (UI thread only)
    std::atomic<bool> dirty{false}; // written since the sync thread last looked
    bool dirSynced = false;         // sync thread only
    ~File() {
        if (fd >= 0)
            ::close(fd);
    }
};

Journal::Journal(const QString& dir, QObject* parent) : QObject(parent), dir_(dir) {
    // Past a file-size limit, write() must fail with EFBIG rather than kill the program.
    std::signal(SIGXFSZ, SIG_IGN);
    syncThread_ = std::thread([this] { SyncThreadBody(); });
}

Journal::~Journal() {
    Close();
}

JournalStartup Journal::Start(int keepFiles, qint64 keepBytes, const KeepJournal& keep) {
    JournalStartup result;
    if (!QDir().mkpath(dir_) || !QFileInfo(dir_).isDir()) {
        result.error = QStringLiteral("cannot make the folder %1").arg(dir_);
        TurnOff(result.error);
        return result;
    }
    // Interrupted runs are named first: pruning spares them.
    result.interrupted = TakeInterruptedJournals(dir_);
    result.pruned = PruneJournals(dir_, keepFiles, keepBytes, keep);
    result.ok = true;
    return result;
}

QString Journal::CurrentFile() const {
    return current_ ? current_->path : QString();
}

bool Journal::OpenFile(const WallTime& at, QString* why) {
    auto file = std::make_shared<File>();
    const QString stem = dir_ + QLatin1Char('/') + QString::fromStdString(FormatFileStamp(at));
    for (int n = 1; n < 1000 && file->fd < 0; ++n) {
        file->path = n == 1 ? stem + QStringLiteral(".csv") : stem + QStringLiteral("_%1.csv").arg(n);
        file->fd =
            ::open(Native(file->path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
        if (file->fd < 0 && errno != EEXIST) {
            *why = QStringLiteral("%1: %2").arg(dir_, SystemError(errno));
            return false;
        }
    }
    if (file->fd < 0) {
        *why = QStringLiteral("%1: %2").arg(dir_, SystemError(EEXIST));
        return false;
    }
    ::flock(file->fd, LOCK_EX | LOCK_NB);
    int error = 0;
    if (!WriteAll(file->fd, CsvHeader(), &error)) {
        *why = QStringLiteral("%1: %2").arg(file->path, SystemError(error));
        ::unlink(Native(file->path).constData());
        return false;
    }
    file->size = static_cast<off_t>(CsvHeader().size());
    file->marker = MarkerPath(file->path);
    const int marker =
        ::open(Native(file->marker).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (marker >= 0)
        ::close(marker);
    current_ = std::move(file);
    std::lock_guard lock(mutex_);
    syncFile_ = current_;
    wake_.notify_one();
    return true;
}

void Journal::Append(const DispatchedReading& dispatched) {
    if (off_ || closed_)
        return;
    QString why;
    if (!current_ && !OpenFile(dispatched.at, &why)) {
        TurnOff(why);
        return;
    }
    File& file = *current_;
    const std::string line = CsvLine(dispatched);
    // One write: a row is in the file whole or (after a failure, cut back below) not at all.
    const ssize_t size = static_cast<ssize_t>(line.size());
    ssize_t n = ::write(file.fd, line.data(), line.size());
    if (n != size) {
        int error = errno;
        if (n >= 0) {
            // A short write stops at a limit; the rest, tried once, says which one.
            const ssize_t more = ::write(file.fd, line.data() + n, line.size() - static_cast<std::size_t>(n));
            error = more < 0 ? errno : ENOSPC;
            n += more > 0 ? more : 0;
        }
        if (n != size) {
            [[maybe_unused]] const int cut = n > 0 ? ::ftruncate(file.fd, file.size) : 0;
            TurnOff(QStringLiteral("%1: %2").arg(file.path, SystemError(error)));
            return;
        }
    }
    file.size += n;
    // No lock and no wake-up here: the sync thread looks once a second.
    file.dirty.store(true, std::memory_order_release);
}

void Journal::RetireCurrent() {
    if (!current_)
        return;
    std::lock_guard lock(mutex_);
    retired_.push_back(std::move(current_));
    current_.reset();
    syncFile_.reset();
    wake_.notify_one();
}

void Journal::NewRun() {
    RetireCurrent();
}

void Journal::Sync() {
    std::lock_guard lock(mutex_);
    syncNow_ = true;
    wake_.notify_one();
}

void Journal::Close() {
    if (closed_)
        return;
    closed_ = true;
    RetireCurrent();
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        wake_.notify_one();
    }
    if (syncThread_.joinable())
        syncThread_.join(); // the thread ends every retired file before it leaves
}

void Journal::TurnOff(const QString& why) {
    if (off_)
        return;
    off_ = true;
    RetireCurrent();
    emit turnedOff(why);
}

bool Journal::SyncFile(File& file, QString* why) {
    if (::fdatasync(file.fd) != 0 && errno != EINVAL) {
        *why = QStringLiteral("%1: %2").arg(file.path, SystemError(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) == 0 && st.st_nlink == 0) {
        *why = QStringLiteral("%1 was removed").arg(file.path);
        return false;
    }
    if (!file.dirSynced) {
        // The new file's name must reach the disk too, or a power cut could lose the whole file.
        const int dirFd = ::open(Native(QFileInfo(file.path).absolutePath()).constData(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            ::fsync(dirFd);
            ::close(dirFd);
        }
        file.dirSynced = true;
    }
    return true;
}

void Journal::EndFile(File& file) {
    // The marker goes only once the rows are on disk: a power cut before that still shows the
    // run as interrupted.
    // A file that cannot be synced has had its fault reported already; the run ends either way.
    QString why;
    SyncFile(file, &why);
    ::unlink(Native(file.marker).constData());
}

void Journal::SyncThreadBody() {
    std::unique_lock lock(mutex_);
    const auto urgent = [&] { return quit_ || syncNow_ || !retired_.empty(); };
    for (;;) {
        // While a run is open, look once a second for rows written since the last sync; STOP,
        // a new run and the end are served at once.
        if (!urgent()) {
            if (syncFile_)
                wake_.wait_for(lock, std::chrono::seconds(1), urgent);
            else
                wake_.wait(lock, [&] { return urgent() || syncFile_; });
        }
        std::shared_ptr<File> open = syncFile_;
        std::vector<std::shared_ptr<File>> retired = std::move(retired_);
        retired_.clear();
        syncNow_ = false;
        const bool quit = quit_;
        lock.unlock();

        QString why;
        if (open && open->dirty.exchange(false, std::memory_order_acquire) && !SyncFile(*open, &why))
            QMetaObject::invokeMethod(
                this, [this, why] { TurnOff(why); }, Qt::QueuedConnection);
        for (const auto& file : retired)
            EndFile(*file);
        open.reset();
        retired.clear(); // closes the files no one else holds

        lock.lock();
        if (quit && retired_.empty())
            return;
    }
}

int PruneJournals(const QString& dir, int keepFiles, qint64 keepBytes, const KeepJournal& keep) {
    int kept = 0, deleted = 0;
    qint64 bytes = 0;
    bool full = false; // once one journal is over a limit, every older one goes too
    for (const QString& name : JournalNamesNewestFirst(dir)) {
        const QString path = dir + QLatin1Char('/') + name;
        if (QFileInfo::exists(MarkerPath(path)) || QFileInfo::exists(MarkerPath(path, kNamedSuffix)) ||
            HeldByAnotherProgram(path) || (keep && keep(path)))
            continue;
        const qint64 size = QFileInfo(path).size();
        full = full || kept >= keepFiles || bytes + size > keepBytes;
        if (!full) {
            ++kept;
            bytes += size;
            continue;
        }
        if (QFile::remove(path)) {
            // What other programs kept beside it (a publisher's sidecar) goes with it.
            QFile::remove(MarkerPath(path, QLatin1String(".mqtt")));
            ++deleted;
        }
    }
    return deleted;
}

QStringList TakeInterruptedJournals(const QString& dir) {
    const QDir folder(dir);
    bool found = false;
    for (const QString& marker :
         folder.entryList({QStringLiteral(".*.csv.open")}, QDir::Files | QDir::Hidden)) {
        const QString name = marker.mid(1).chopped(5);
        const QString path = dir + QLatin1Char('/') + name;
        if (!QFileInfo::exists(path)) {
            QFile::remove(dir + QLatin1Char('/') + marker);
            continue;
        }
        if (!IsJournalName(name) || HeldByAnotherProgram(path))
            continue;
        if (!found) {
            // A newer interrupted run: the ones named before go back to the ordinary rules.
            for (const QString& old :
                 folder.entryList({QLatin1String(".*.csv") + kNamedSuffix}, QDir::Files | QDir::Hidden))
                QFile::remove(dir + QLatin1Char('/') + old);
            found = true;
        }
        QFile::remove(MarkerPath(path, kNamedSuffix));
        QFile::rename(dir + QLatin1Char('/') + marker, MarkerPath(path, kNamedSuffix));
    }
    QStringList newestFirst;
    for (const QString& name : JournalNamesNewestFirst(dir)) {
        const QString path = dir + QLatin1Char('/') + name;
        if (QFileInfo::exists(MarkerPath(path, kNamedSuffix)))
            newestFirst << path;
    }
    // Markers whose journal has gone.
    for (const QString& marker :
         folder.entryList({QLatin1String(".*.csv") + kNamedSuffix}, QDir::Files | QDir::Hidden))
        if (!QFileInfo::exists(dir + QLatin1Char('/') + marker.mid(1).chopped(kNamedSuffix.size())))
            QFile::remove(dir + QLatin1Char('/') + marker);
    return newestFirst;
}

void ForgetInterrupted(const QString& path) {
    QFile::remove(MarkerPath(QFileInfo(path).absoluteFilePath(), kNamedSuffix));
}

} // namespace zelvox
