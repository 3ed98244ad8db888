#include "journal/JournalLoader.h"

#include "record/RowCodec.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvox {

namespace {

constexpr std::size_t kPieceBytes = 1 << 20;

// Reads a journal's bytes piece by piece, line by line, each line through the row codec. A line
// longer than any row can be is passed over in pieces, never held whole.
class JournalParser {
public:
    JournalParser(const JournalSink& sink, JournalReport& report) : sink_(sink), report_(report) {
        pending_.reserve(kMaxRowBytes + 2);
        batch_.reserve(kJournalBatchRows);
    }

    bool Failed() const { return !error_.isEmpty(); }
    const QString& Error() const { return error_; }

    void Feed(const char* p, std::size_t n) {
        std::size_t i = 0;
        while (i < n && !Failed()) {
            const auto* lf = static_cast<const char*>(std::memchr(p + i, '\n', n - i));
            if (skipping_) {
                // The rest of an overlong line, in whatever pieces it comes.
                if (!lf)
                    return;
                skipping_ = false;
            } else if (!lf) {
                pending_.append(p + i, n - i);
                if (pending_.size() > kMaxRowBytes + 1) { // a CR may follow the longest row
                    Damaged();
                    pending_.clear();
                    skipping_ = true;
                }
                return;
            } else if (pending_.empty()) {
                Line(std::string_view(p + i, static_cast<std::size_t>(lf - (p + i))));
            } else {
                pending_.append(p + i, static_cast<std::size_t>(lf - (p + i)));
                Line(pending_);
                pending_.clear();
            }
            i = static_cast<std::size_t>(lf - p) + 1;
            ++line_;
        }
    }

    void Finish() {
        if (Failed())
            return;
        if (!headerSeen_ && !pending_.empty())
            Line(pending_); // a header without a line end is still a header
        else if (!pending_.empty() || skipping_)
            report_.cutLastLine = true;
        if (!headerSeen_ && !Failed())
            error_ = QStringLiteral("the file is empty, not a Zelvox journal");
        Flush();
    }

private:
    void Damaged() {
        if (!headerSeen_) {
            error_ = QStringLiteral("not a Zelvox journal (its first line is not a journal's header)");
        } else if (report_.damaged++ == 0) {
            report_.firstDamagedLine = line_;
        }
    }

    void Line(std::string_view line) {
        JournalRow row;
        const LineKind kind = ReadJournalLine(line, row);
        if (!headerSeen_) {
            if (kind == LineKind::Header)
                headerSeen_ = true;
            else
                Damaged();
            return;
        }
        if (kind == LineKind::Damaged)
            Damaged();
        else if (kind == LineKind::Row)
            TakeRow(row);
    }

    void TakeRow(const JournalRow& row) {
        if (report_.rows > 0 && row.index != previousIndex_ + 1) {
            if (report_.indexGaps++ == 0) {
                report_.firstGapLine = line_;
                report_.firstGapFrom = previousIndex_;
                report_.firstGapTo = row.index;
            }
        }
        previousIndex_ = row.index;
        report_.largestIndex = std::max(report_.largestIndex, row.index);
        ++report_.rows;
        batch_.push_back(row);
        if (batch_.size() == kJournalBatchRows)
            Flush();
    }

    void Flush() {
        if (batch_.empty())
            return;
        if (sink_)
            sink_(std::move(batch_));
        batch_ = {};
        batch_.reserve(kJournalBatchRows);
    }

    const JournalSink& sink_;
    JournalReport& report_;
    QString error_;
    std::string pending_; // the start of a line that the next piece goes on with
    bool skipping_ = false;
    bool headerSeen_ = false;
    std::int64_t line_ = 1; // the line being read, from 1
    std::int64_t previousIndex_ = 0;
    std::vector<JournalRow> batch_;
};

QString KindOfFile(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe (FIFO)");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

} // namespace

QString JournalReport::Summary(const QString& path) const {
    if (!ok)
        return QStringLiteral("Cannot load %1: %2").arg(path, error);
    QString text = cancelled ? QStringLiteral("Load of %1 stopped after %2 rows").arg(path).arg(rows)
                             : QStringLiteral("Loaded %1 rows from %2").arg(rows).arg(path);
    if (damaged == 1)
        text += QStringLiteral("; 1 damaged line skipped (line %1)").arg(firstDamagedLine);
    else if (damaged > 1)
        text += QStringLiteral("; %1 damaged lines skipped (the first at line %2)")
                    .arg(damaged)
                    .arg(firstDamagedLine);
    if (cutLastLine)
        text += QStringLiteral("; the last line was cut short and left out");
    if (indexGaps > 0)
        text += QStringLiteral("; %1 in the Index (the first from %2 to %3, line %4)")
                    .arg(indexGaps == 1 ? QStringLiteral("1 gap") : QStringLiteral("%1 gaps").arg(indexGaps))
                    .arg(firstGapFrom)
                    .arg(firstGapTo)
                    .arg(firstGapLine);
    return text;
}

JournalReport ReadJournal(const QString& path, const JournalSink& sink, const JournalProgress& progress,
                          const std::atomic<bool>* cancel) {
    JournalReport report;
    // Without O_NONBLOCK, opening a FIFO would wait for a writer for ever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        report.error = QString::fromLocal8Bit(std::strerror(errno));
        return report;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        report.error = QStringLiteral("it is %1, not a journal file").arg(KindOfFile(st.st_mode));
        ::close(fd);
        return report;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    JournalParser parser(sink, report);
    const auto piece = std::make_unique_for_overwrite<char[]>(kPieceBytes);
    std::int64_t done = 0;
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            report.cancelled = true;
            break;
        }
        const ssize_t n = ::read(fd, piece.get(), kPieceBytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            report.error = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            return report;
        }
        if (n == 0)
            break;
        parser.Feed(piece.get(), static_cast<std::size_t>(n));
        if (parser.Failed())
            break;
        done += n;
        if (progress)
            progress(done, std::max<std::int64_t>(done, st.st_size));
    }
    ::close(fd);
    if (!report.cancelled)
        parser.Finish();
    if (parser.Failed()) {
        report.error = parser.Error();
        return report;
    }
    report.ok = true;
    return report;
}

std::int64_t LargestIndexInTail(const QString& path) {
    constexpr off_t kTailBytes = 64 * 1024;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    std::string tail;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t from = std::max<off_t>(0, st.st_size - kTailBytes);
        tail.resize(static_cast<std::size_t>(st.st_size - from));
        const ssize_t n = ::pread(fd, tail.data(), tail.size(), from);
        tail.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        if (from > 0) // the first line is cut
            tail.erase(0, std::min(tail.size(), tail.find('\n') + 1));
    }
    ::close(fd);
    std::int64_t largest = -1;
    const std::string_view text(tail);
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string_view::npos; at = nl + 1) {
        JournalRow row;
        if (ReadJournalLine(text.substr(at, nl - at), row) == LineKind::Row)
            largest = std::max(largest, row.index);
    }
    return largest;
}

LoadedJournal LoadJournal(const QString& path) {
    LoadedJournal loaded;
    const JournalSink sink = [&](std::vector<JournalRow>&& rows) {
        loaded.rows.insert(loaded.rows.end(), rows.begin(), rows.end());
    };
    static_cast<JournalReport&>(loaded) = ReadJournal(path, sink);
    if (!loaded.ok)
        loaded.rows.clear();
    return loaded;
}

// The worker hands out at most this many batches that the UI thread has not taken yet.
constexpr int kBatchesAhead = 4;

struct JournalLoad::Shared {
    std::mutex mutex;
    std::condition_variable taken;
    int ahead = 0;
    std::atomic<bool> cancel{false};
};

JournalLoad::JournalLoad(const QString& path, QObject* parent)
    : QObject(parent), path_(path), shared_(std::make_shared<Shared>()) {}

JournalLoad::~JournalLoad() {
    Cancel();
    if (worker_.joinable())
        worker_.join();
}

void JournalLoad::Cancel() {
    std::lock_guard lock(shared_->mutex);
    shared_->cancel = true;
    shared_->taken.notify_all();
}

void JournalLoad::Start() {
    if (worker_.joinable())
        return;
    worker_ = std::thread([this, shared = shared_, path = path_] {
        const JournalSink sink = [this, shared](std::vector<JournalRow>&& rows) {
            {
                std::unique_lock lock(shared->mutex);
                shared->taken.wait(lock, [&] { return shared->ahead < kBatchesAhead || shared->cancel; });
                if (shared->cancel)
                    return;
                ++shared->ahead;
            }
            auto batch = std::make_shared<std::vector<JournalRow>>(std::move(rows));
            QMetaObject::invokeMethod(
                this,
                [this, shared, batch] {
                    if (!shared->cancel)
                        emit rowsRead(*batch);
                    std::lock_guard lock(shared->mutex);
                    --shared->ahead;
                    shared->taken.notify_all();
                },
                Qt::QueuedConnection);
        };
        int shown = -1;
        const JournalProgress percent = [&](std::int64_t done, std::int64_t total) {
            const int now = total > 0 ? static_cast<int>(done * 100 / total) : 100;
            if (now == shown)
                return;
            shown = now;
            QMetaObject::invokeMethod(
                this, [this, now] { emit progress(now); }, Qt::QueuedConnection);
        };
        JournalReport report = ReadJournal(path, sink, percent, &shared->cancel);
        report.cancelled = report.cancelled || shared->cancel;
        QMetaObject::invokeMethod(
            this, [this, report] { emit finished(report); }, Qt::QueuedConnection);
    });
}

} // namespace zelvox
