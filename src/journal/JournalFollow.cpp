#include "journal/JournalFollow.h"

#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <sys/stat.h>

namespace zelvox {

namespace {

// The worker hands out at most this many batches that the owner's thread has not taken yet.
constexpr int kBatchesAhead = 4;
constexpr std::size_t kPieceBytes = 256 * 1024;
// A poll reads at most this many pieces; more waits for the next turn of the event loop.
constexpr int kPiecesPerPoll = 4;

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

struct JournalFollow::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    int ahead = 0;
    bool cancel = false;
    std::atomic<bool> cancelled{false};
};

// The file being followed and where its reading stands: the worker's until it has read what the
// file held at the start, then the owner thread's.
struct JournalFollow::Followed {
    QString name;
    QByteArray encoded;
    JournalReport report;
    JournalSink sink;
    std::unique_ptr<JournalBytes> bytes = std::make_unique<JournalBytes>();
    std::unique_ptr<JournalParser> parser;
    std::unique_ptr<char[]> piece = std::make_unique_for_overwrite<char[]>(kPieceBytes);
    struct stat held {};
    bool gone = false;
    int file = 0;

    // Reads what the file holds now, at most maxPieces (0: all of it); more is set when some is
    // left. False when it cannot be read or is no journal.
    bool Drain(int maxPieces, bool* more, const std::function<bool()>& cancelled,
               const std::function<void(int)>& progress) {
        *more = false;
        for (int pieces = 0;;) {
            if (cancelled && cancelled())
                return true;
            const long n = bytes->Read(piece.get(), kPieceBytes, &report.error);
            if (n < 0) {
                parser->Flush();
                return false;
            }
            if (n == 0)
                break;
            parser->Feed(piece.get(), static_cast<std::size_t>(n));
            if (parser->Failed()) {
                report.error = parser->Error();
                return false;
            }
            if (progress && bytes->Size() > 0)
                progress(
                    static_cast<int>(std::min<std::int64_t>(100, bytes->Consumed() * 100 / bytes->Size())));
            // A short read of a plain file is its end for now: no second read to hear it.
            if (static_cast<std::size_t>(n) < kPieceBytes && !bytes->Compressed())
                break;
            if (maxPieces > 0 && ++pieces == maxPieces) {
                *more = true;
                break;
            }
        }
        parser->Flush();
        return true;
    }
};

JournalFollow::JournalFollow(const QString& path, QObject* parent)
    : QObject(parent), path_(path), shared_(std::make_shared<Shared>()),
      followed_(std::make_unique<Followed>()) {
    followed_->name = QFileInfo(path).fileName();
    followed_->encoded = QFile::encodeName(path);
    followed_->parser = std::make_unique<JournalParser>(followed_->sink, followed_->report);
    poll_.setSingleShot(true);
    connect(&poll_, &QTimer::timeout, this, &JournalFollow::Poll);
}

JournalFollow::~JournalFollow() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->cancel = true;
        shared_->cancelled = true;
        shared_->wake.notify_all();
    }
    if (worker_.joinable())
        worker_.join();
}

void JournalFollow::Start() {
    if (worker_.joinable() || poll_.isActive())
        return;
    // What the file holds at the start, read on a worker; its rows handed over in batches.
    followed_->sink = [this, shared = shared_](std::vector<JournalRow>&& rows) {
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] { return shared->ahead < kBatchesAhead || shared->cancel; });
            if (shared->cancel)
                return;
            ++shared->ahead;
        }
        auto batch = std::make_shared<std::vector<JournalRow>>(std::move(rows));
        QMetaObject::invokeMethod(
            this,
            [this, shared, batch, file = followed_->file] {
                if (!shared->cancelled)
                    emit rowsRead(*batch, file);
                std::lock_guard lock(shared->mutex);
                --shared->ahead;
                shared->wake.notify_all();
            },
            Qt::QueuedConnection);
    };
    worker_ = std::thread([this, shared = shared_, f = followed_.get()] {
        int shown = -1;
        const auto percent = [&](int now) {
            if (now != shown) {
                shown = now;
                QMetaObject::invokeMethod(
                    this, [this, now] { emit progress(now); }, Qt::QueuedConnection);
            }
        };
        bool more = false;
        const bool read = f->bytes->Open(path_, &f->report.error) &&
                          f->Drain(
                              0, &more, [&] { return shared->cancelled.load(); }, percent);
        if (shared->cancelled)
            return;
        f->report.ok = read;
        if (read)
            ::fstat(f->bytes->Fd(), &f->held);
        // After the batches posted before it: from here on the owner's thread follows the file.
        QMetaObject::invokeMethod(
            this,
            [this, read] {
                worker_.join();
                emit caughtUp(followed_->report);
                if (!read)
                    return;
                followed_->sink = [this](std::vector<JournalRow>&& rows) {
                    emit rowsRead(rows, followed_->file);
                };
                poll_.start(kPollMs);
            },
            Qt::QueuedConnection);
    });
}

void JournalFollow::Poll() {
    // One wake-up every kPollMs on the owner's thread: the file's size and what it grew by, or
    // whether another file has its name; no thread hand-over for the few rows of a poll.
    Followed& f = *followed_;
    bool more = false;
    struct stat now {};
    const bool sized = ::fstat(f.bytes->Fd(), &now) == 0;
    if (sized && now.st_size < f.bytes->Consumed()) {
        emit changed(QStringLiteral("%1 was truncated: reading it from its start").arg(f.name));
        f.bytes->Rewind();
        f.parser->RestartWithoutHeader();
    }
    const bool grew = !sized || now.st_size > f.bytes->Consumed();
    if (grew && !f.Drain(kPiecesPerPoll, &more, {}, {})) {
        emit changed(QStringLiteral("%1 cannot be followed: %2").arg(f.name, f.report.error));
        return;
    }
    if (more) {
        poll_.start(0); // the rest at the next turn of the event loop
        return;
    }
    poll_.start(kPollMs);
    // While the file grows its writer writes to it; only a file that stopped growing may have
    // been renamed or removed under its writer, who then writes to a new file of that name.
    if (grew)
        return;
    struct stat named {};
    if (::stat(f.encoded.constData(), &named) != 0) {
        if (!f.gone)
            emit changed(QStringLiteral("%1 went away; it is taken up again when it is back").arg(f.name));
        f.gone = true;
        return;
    }
    if (SameFile(named, f.held)) {
        if (f.gone)
            emit changed(QStringLiteral("%1 is back").arg(f.name));
        f.gone = false;
        return;
    }
    // Another file has the name (logrotate renamed the old one): the old one was read to its end
    // above, then the new one is read from its start.
    auto next = std::make_unique<JournalBytes>();
    QString why;
    if (!next->Open(path_, &why))
        return; // tried again at the next poll
    f.parser->Finish();
    f.bytes = std::move(next);
    ::fstat(f.bytes->Fd(), &f.held);
    ++f.file;
    f.parser = std::make_unique<JournalParser>(f.sink, f.report);
    f.gone = false;
    emit changed(QStringLiteral("%1 was rotated: following the new %1").arg(f.name));
    if (!f.Drain(kPiecesPerPoll, &more, {}, {})) {
        emit changed(QStringLiteral("%1 cannot be followed: %2").arg(f.name, f.report.error));
        poll_.stop();
        return;
    }
    if (more)
        poll_.start(0);
}

} // namespace zelvox
