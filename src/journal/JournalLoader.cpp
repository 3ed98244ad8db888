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
#include <zlib.h>

namespace zelvox {

namespace {

constexpr std::size_t kPieceBytes = 1 << 20;

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

JournalParser::JournalParser(const JournalSink& sink, JournalReport& report) : sink_(sink), report_(report) {
    pending_.reserve(kMaxRowBytes + 2);
    batch_.reserve(kJournalBatchRows);
}

void JournalParser::Feed(const char* p, std::size_t n) {
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

void JournalParser::Finish() {
    if (Failed())
        return;
    if (!headerSeen_ && !pending_.empty())
        Line(pending_); // a header without a line end is still a header
    else if (!pending_.empty() || skipping_)
        report_.cutLastLine = true;
    pending_.clear();
    skipping_ = false;
    if (!headerSeen_ && !Failed())
        error_ = QStringLiteral("the file is empty, not a Zelvox journal");
    Flush();
}

void JournalParser::RestartWithoutHeader() {
    pending_.clear();
    skipping_ = false;
    headerSeen_ = true;
    line_ = 1;
}

void JournalParser::Damaged() {
    if (!headerSeen_) {
        error_ = QStringLiteral("not a Zelvox journal (its first line is not a journal's header)");
    } else if (report_.damaged++ == 0) {
        report_.firstDamagedLine = line_;
    }
}

void JournalParser::Line(std::string_view line) {
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

void JournalParser::TakeRow(const JournalRow& row) {
    if (taken_++ > 0 && row.index != previousIndex_ + 1) {
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

void JournalParser::Flush() {
    if (batch_.empty())
        return;
    if (sink_)
        sink_(std::move(batch_));
    // Not reserved again: a followed file hands over a few rows at a time, and a batch of
    // kJournalBatchRows is 400 KB.
    batch_ = {};
}

// A gzip stream being inflated: members one after another, as gzip and logrotate write them.
struct JournalBytes::Inflater {
    z_stream z{};
    std::unique_ptr<char[]> in = std::make_unique_for_overwrite<char[]>(kPieceBytes / 4);
    bool ended = false; // the last member ended and no byte followed it yet
    Inflater() { inflateInit2(&z, 15 + 32); }
    ~Inflater() { inflateEnd(&z); }
};

JournalBytes::JournalBytes() = default;

JournalBytes::~JournalBytes() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool JournalBytes::Compressed() const {
    return inflater_ != nullptr;
}

bool JournalBytes::Open(const QString& path, QString* why) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer for ever.
    // Reading leaves the access time alone where the file is ours: a followed log is read twice
    // a second, and each access time written would dirty its inode.
    const QByteArray name = QFile::encodeName(path);
    fd_ = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOATIME);
    if (fd_ < 0 && errno == EPERM)
        fd_ = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = QStringLiteral("it is %1, not a journal file").arg(KindOfFile(st.st_mode));
        return false;
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    size_ = st.st_size;
    unsigned char magic[2] = {0, 0};
    if (::pread(fd_, magic, 2, 0) == 2 && magic[0] == 0x1f && magic[1] == 0x8b)
        inflater_ = std::make_unique<Inflater>();
    return true;
}

void JournalBytes::Rewind() {
    ::lseek(fd_, 0, SEEK_SET);
    consumed_ = 0;
}

long JournalBytes::Read(char* p, std::size_t n, QString* why) {
    const auto readFd = [&](char* to, std::size_t max) -> long {
        for (;;) {
            const ssize_t got = ::read(fd_, to, max);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                *why = QString::fromLocal8Bit(std::strerror(errno));
            else
                consumed_ += got;
            return static_cast<long>(got);
        }
    };
    if (!inflater_)
        return readFd(p, n);
    z_stream& z = inflater_->z;
    z.next_out = reinterpret_cast<Bytef*>(p);
    z.avail_out = static_cast<uInt>(n);
    while (z.avail_out == n) {
        if (z.avail_in == 0) {
            const long got = readFd(inflater_->in.get(), kPieceBytes / 4);
            if (got < 0)
                return -1;
            if (got == 0 && z.avail_out < n)
                break; // what was inflated first; the end comes at the next call
            if (got == 0) {
                if (!inflater_->ended) // the compressed file stops inside a member
                    *why = QStringLiteral("the compressed data ends early");
                return inflater_->ended ? 0 : -1;
            }
            z.next_in = reinterpret_cast<Bytef*>(inflater_->in.get());
            z.avail_in = static_cast<uInt>(got);
        }
        if (inflater_->ended) {
            inflateReset(&z);
            inflater_->ended = false;
        }
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            inflater_->ended = true;
        } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            *why = QStringLiteral("its compressed data is damaged");
            return -1;
        }
    }
    return static_cast<long>(n - z.avail_out);
}

bool HoldsJournalRows(const QString& path, QString* why) {
    JournalBytes bytes;
    if (!bytes.Open(path, why))
        return false;
    char head[kMaxRowBytes + 8];
    std::size_t have = 0;
    while (have < sizeof head) {
        const long got = bytes.Read(head + have, sizeof head - have, why);
        if (got <= 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    const std::string_view text(head, have);
    JournalRow row;
    const std::size_t lf = text.find('\n');
    if (ReadJournalLine(text.substr(0, lf == std::string_view::npos ? have : lf), row) == LineKind::Header)
        return true;
    if (why->isEmpty())
        *why = QStringLiteral("not a journal or a logger's CSV");
    return false;
}

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
    JournalBytes bytes;
    if (!bytes.Open(path, &report.error))
        return report;
    JournalParser parser(sink, report);
    const auto piece = std::make_unique_for_overwrite<char[]>(kPieceBytes);
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            report.cancelled = true;
            break;
        }
        const long n = bytes.Read(piece.get(), kPieceBytes, &report.error);
        if (n < 0) {
            parser.Flush(); // the rows before the fault are read
            return report;
        }
        if (n == 0)
            break;
        parser.Feed(piece.get(), static_cast<std::size_t>(n));
        if (parser.Failed())
            break;
        if (progress)
            progress(bytes.Consumed(), std::max(bytes.Consumed(), bytes.Size()));
    }
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
