#include "journal/JournalFollow.h"

#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <sys/stat.h>

namespace zelvox {

namespace {

// The worker hands out at most this many batches that the UI thread has not taken yet.
constexpr int kBatchesAhead = 4;
constexpr std::size_t kPieceBytes = 256 * 1024;

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

JournalFollow::JournalFollow(const QString& path, QObject* parent)
    : QObject(parent), path_(path), shared_(std::make_shared<Shared>()) {}

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
    if (worker_.joinable())
        return;
    worker_ = std::thread([this, shared = shared_, path = path_] {
        const QString name = QFileInfo(path).fileName();
        const QByteArray encoded = QFile::encodeName(path);
        int file = 0;
        const JournalSink sink = [&](std::vector<JournalRow>&& rows) {
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
                [this, shared, batch, file] {
                    if (!shared->cancelled)
                        emit rowsRead(*batch, file);
                    std::lock_guard lock(shared->mutex);
                    --shared->ahead;
                    shared->wake.notify_all();
                },
                Qt::QueuedConnection);
        };
        const auto say = [&](const QString& text) {
            QMetaObject::invokeMethod(
                this, [this, text] { emit changed(text); }, Qt::QueuedConnection);
        };

        JournalReport report;
        auto bytes = std::make_unique<JournalBytes>();
        auto parser = std::make_unique<JournalParser>(sink, report);
        const auto piece = std::make_unique_for_overwrite<char[]>(kPieceBytes);
        // Reads what the file holds now; false when it cannot be read or is no journal.
        int shown = -1;
        const auto drain = [&](bool withProgress) {
            for (;;) {
                if (shared->cancelled)
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
                if (withProgress && bytes->Size() > 0) {
                    const int now = static_cast<int>(
                        std::min<std::int64_t>(100, bytes->Consumed() * 100 / bytes->Size()));
                    if (now != shown) {
                        shown = now;
                        QMetaObject::invokeMethod(
                            this, [this, now] { emit progress(now); }, Qt::QueuedConnection);
                    }
                }
            }
            parser->Flush();
            return true;
        };

        if (!bytes->Open(path, &report.error) || !drain(true)) {
            QMetaObject::invokeMethod(
                this, [this, report] { emit caughtUp(report); }, Qt::QueuedConnection);
            return;
        }
        report.ok = true;
        QMetaObject::invokeMethod(
            this, [this, report] { emit caughtUp(report); }, Qt::QueuedConnection);

        struct stat held {};
        ::fstat(bytes->Fd(), &held);
        bool gone = false;
        for (;;) {
            {
                std::unique_lock lock(shared->mutex);
                if (shared->wake.wait_for(lock, std::chrono::milliseconds(kPollMs),
                                          [&] { return shared->cancel; }))
                    return;
            }
            struct stat now {};
            if (::fstat(bytes->Fd(), &now) == 0 && now.st_size < bytes->Consumed()) {
                say(QStringLiteral("%1 was truncated: reading it from its start").arg(name));
                bytes->Rewind();
                parser->RestartWithoutHeader();
            }
            if (!drain(false)) {
                say(QStringLiteral("%1 cannot be followed: %2").arg(name, report.error));
                return;
            }
            struct stat named {};
            if (::stat(encoded.constData(), &named) != 0) {
                if (!gone)
                    say(QStringLiteral("%1 went away; it is taken up again when it is back").arg(name));
                gone = true;
                continue;
            }
            if (SameFile(named, held)) {
                if (gone)
                    say(QStringLiteral("%1 is back").arg(name));
                gone = false;
                continue;
            }
            // Another file has the name (logrotate renamed the old one): the old one is read to
            // its end above, then the new one from its start.
            auto next = std::make_unique<JournalBytes>();
            QString why;
            if (!next->Open(path, &why))
                continue; // tried again at the next poll
            parser->Finish();
            parser.reset();
            bytes = std::move(next);
            ::fstat(bytes->Fd(), &held);
            ++file;
            parser = std::make_unique<JournalParser>(sink, report);
            gone = false;
            say(QStringLiteral("%1 was rotated: following the new %1").arg(name));
            if (!drain(false)) {
                say(QStringLiteral("%1 cannot be followed: %2").arg(name, report.error));
                return;
            }
        }
    });
}

} // namespace zelvox
