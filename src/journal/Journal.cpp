#include "journal/Journal.h"

#include <QDir>
#include <QFile>
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

std::string Std(const QString& path) {
    return path.toStdString();
}

} // namespace

QString DefaultJournalDir() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        const QString home = qEnvironmentVariable("HOME");
        if (!QDir::isAbsolutePath(home) || QDir(home).isRoot())
            return {};
        base = home + QStringLiteral("/.local/state");
    }
    return base + QStringLiteral("/zelvox/recordings");
}

QString JournalOffReason(const QString& why) {
    for (const int full : {ENOSPC, EDQUOT})
        if (why.endsWith(SystemError(full)))
            return QStringLiteral("disk full");
    return why;
}

QStringList JournalStartup::Notices() const {
    QStringList notices;
    for (const InterruptedRun& run : interrupted)
        notices << QStringLiteral("Interrupted recording: %1 (%2), kept until loaded with --load")
                       .arg(QString::fromStdString(run.path), QString::fromStdString(FormatBytes(run.bytes)));
    if (const std::string removed = DescribePrune(pruned); !removed.empty())
        notices << QString::fromStdString(removed).split(QLatin1Char('\n'));
    return notices;
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

JournalStartup Journal::Start(const PruneRules& rules) {
    JournalStartup result;
    publishingTo_ = rules.publishingTo;
    splitBytes_ = rules.splitBytes;
    {
        std::lock_guard lock(mutex_);
        rules_ = rules;
    }
    if (dir_.isEmpty()) {
        result.error = QStringLiteral("no folder for it (neither XDG_STATE_HOME nor HOME is set)");
        TurnOff(result.error);
        return result;
    }
    QDir().mkpath(dir_);
    // Interrupted runs are named first, even in a folder we cannot write: pruning spares them.
    result.interrupted = TakeInterruptedJournals(Std(dir_));
    if (!QFileInfo(dir_).isDir()) {
        result.error = QStringLiteral("cannot make the folder %1").arg(dir_);
    } else if (::access(Native(dir_).constData(), W_OK | X_OK) != 0) {
        result.error = QStringLiteral("%1: %2").arg(dir_, SystemError(errno));
    }
    if (!result.error.isEmpty()) {
        TurnOff(result.error);
        return result;
    }
    result.pruned = PruneJournals(Std(dir_), rules);
    result.ok = true;
    return result;
}

QString Journal::CurrentFile() const {
    return current_ ? current_->path : QString();
}

bool Journal::OpenFile(const WallTime& at, QString* why) {
    auto file = std::make_shared<File>();
    for (int n = 1; n < 1000 && file->fd < 0; ++n) {
        file->path = dir_ + QLatin1Char('/') + QString::fromStdString(JournalFileName(at, n));
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
    // Its rows are for the broker, whatever becomes of the publisher's sidecar. A file system
    // without user attributes keeps no record: the sidecar alone counts there.
    if (!publishingTo_.empty())
        RecordJournalTarget(file->fd, publishingTo_);
    int error = 0;
    if (!WriteAll(file->fd, CsvHeader(), &error)) {
        *why = QStringLiteral("%1: %2").arg(file->path, SystemError(error));
        ::unlink(Native(file->path).constData());
        return false;
    }
    file->size = static_cast<off_t>(CsvHeader().size());
    file->marker = QString::fromStdString(OpenMarkerPath(Std(file->path)));
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
    {
        // A fault the sync thread found: said with this row at the latest, so that a program
        // without an event loop hears of it too.
        std::lock_guard lock(mutex_);
        why = syncFault_;
    }
    if (!why.isEmpty()) {
        TurnOff(why);
        return;
    }
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
    // A folder kept as an outbox: the file ends here, so that it can be pruned once the broker
    // has all of it; the next row opens a new one.
    if (splitBytes_ > 0 && static_cast<std::uint64_t>(file.size) >= splitBytes_)
        RetireCurrent();
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

void Journal::Resume() {
    if (!off_ || closed_)
        return;
    {
        std::lock_guard lock(mutex_);
        syncFault_.clear();
    }
    off_ = false;
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

void Journal::TakeSyncFault() {
    QString why;
    {
        std::lock_guard lock(mutex_);
        why = syncFault_;
    }
    if (!why.isEmpty())
        TurnOff(why);
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
    auto nextPrune = std::chrono::steady_clock::now();
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
        const auto now = std::chrono::steady_clock::now();
        const bool pruneNow = rules_.splitBytes > 0 && !quit && now >= nextPrune;
        const PruneRules rules = pruneNow ? rules_ : PruneRules{};
        lock.unlock();

        QString why;
        if (open && open->dirty.exchange(false, std::memory_order_acquire) && !SyncFile(*open, &why)) {
            {
                std::lock_guard faultLock(mutex_);
                syncFault_ = why;
            }
            // A call by name: the event holds nothing this thread touches again, so the UI
            // thread owns it alone (the fault itself is read under the lock).
            QMetaObject::invokeMethod(this, "TakeSyncFault", Qt::QueuedConnection);
        }
        for (const auto& file : retired)
            EndFile(*file);
        open.reset();
        retired.clear(); // closes the files no one else holds
        if (pruneNow) {
            // The run's own file is held (flocked) and spared, as is every file with rows the
            // broker has not acknowledged.
            nextPrune = now + rules.pruneEvery;
            if (const std::string removed = DescribePrune(PruneJournals(Std(dir_), rules)); !removed.empty())
                emit prunedWhileRunning(QString::fromStdString(removed));
        }

        lock.lock();
        if (quit && retired_.empty())
            return;
    }
}

} // namespace zelvox
