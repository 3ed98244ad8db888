#include "journal/JournalLoader.h"

#include "decode/Format.h"
#include "decode/Labels.h"
#include "record/ReadingRecord.h"

#include <QFile>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvox {

namespace {

// No row of a journal comes near this; a longer line is damage (or not a journal at all).
constexpr std::size_t kMaxRecordBytes = 512;
constexpr std::size_t kPieceBytes = 1 << 20;
// The largest Index the readings table keeps.
constexpr std::int64_t kMaxIndex = (std::int64_t(1) << 30) - 1;
// "2026-12-08T10:": how every row of a journal begins.
constexpr std::size_t kRowStartBytes = 14;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool StartsARow(std::string_view s) {
    if (s.size() < kRowStartBytes)
        return false;
    for (std::size_t i = 0; i < kRowStartBytes; ++i) {
        const char want = i == 4 || i == 7 ? '-' : i == 10 ? 'T' : i == 13 ? ':' : '0';
        if (want == '0' ? !IsDigit(s[i]) : s[i] != want)
            return false;
    }
    return true;
}

// A table index: decimal digits without a sign or leading zeros.
bool ParseIndex(std::string_view s, int& index) {
    if (s.empty() || s.size() > 10 || (s.size() > 1 && s[0] == '0'))
        return false;
    std::int64_t v = 0;
    for (char c : s) {
        if (!IsDigit(c))
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > kMaxIndex)
        return false;
    index = static_cast<int>(v);
    return true;
}

// The function code of a Type text, or -1.
int FunctionCodeOf(std::string_view type) {
    static const auto labels = [] {
        std::array<std::string, kFunctionCount> utf8;
        for (int fc = 0; fc < kFunctionCount; ++fc)
            utf8[static_cast<std::size_t>(fc)] = ToUtf8(functionLabels[static_cast<std::size_t>(fc)]);
        return utf8;
    }();
    for (std::size_t fc = 0; fc < labels.size(); ++fc)
        if (labels[fc] == type)
            return static_cast<int>(fc);
    return -1;
}

// The reading behind a row's Value text and full-precision Number: the point position follows
// from the decimals shown ("1.234" three: position 1).
bool ParseReading(std::string_view text, std::string_view number, Reading& r) {
    if (text == "0L" || text == "-0L") {
        r.value = text[0] == '-' ? -kOverload : kOverload;
        r.pointPosition = 0;
        return number.empty();
    }
    const std::size_t dot = text.find('.');
    const std::size_t decimals = dot == std::string_view::npos ? 0 : text.size() - dot - 1;
    if (decimals > 3 || text.empty())
        return false;
    r.pointPosition = static_cast<std::uint8_t>(decimals == 0 ? 0 : 4 - decimals);
    const std::string_view digits = number.empty() ? text : number;
    const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), r.value);
    return res.ec == std::errc() && res.ptr == digits.data() + digits.size() && !IsOverload(r.value);
}

// The table's Value text for r is exactly `text`.
bool ShownAs(const Reading& r, std::string_view text) {
    const std::u16string shown = FormatTableValue(r.value, r.pointPosition);
    if (shown.size() != text.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (shown[i] != static_cast<unsigned char>(text[i]))
            return false;
    return true;
}

// Reads a journal's bytes piece by piece into rows.
class JournalParser {
public:
    JournalParser(const JournalSink& sink, JournalReport& report) : sink_(sink), report_(report) {
        record_.reserve(kMaxRecordBytes + kRowStartBytes);
        unquoted_.reserve(kMaxRecordBytes);
        batch_.reserve(kJournalBatchRows);
    }

    bool Failed() const { return !error_.isEmpty(); }
    const QString& Error() const { return error_; }

    void Feed(const char* p, std::size_t n) {
        std::size_t i = 0;
        while (i < n && !Failed()) {
            if (skipping_) {
                // The rest of an overlong line, in whatever pieces it comes.
                const void* lf = std::memchr(p + i, '\n', n - i);
                if (!lf)
                    return;
                i = static_cast<std::size_t>(static_cast<const char*>(lf) - p) + 1;
                ++line_;
                skipping_ = false;
                recordLine_ = line_;
                continue;
            }
            std::size_t j = i;
            while (j < n && p[j] != '\n' && p[j] != '"')
                ++j;
            record_.append(p + i, j - i);
            i = j;
            if (record_.size() > kMaxRecordBytes) {
                Damaged();
                skipping_ = true; // up to the line end, which the loop finds again at i
                continue;
            }
            if (pendingRowStart_ != kNone && record_.size() - pendingRowStart_ >= kRowStartBytes)
                CheckRowStart();
            if (i == n)
                return;
            const char c = p[i++];
            if (c == '"') {
                inQuotes_ = !inQuotes_;
                record_ += c;
                pendingRowStart_ = kNone; // no row begins with a quote
                continue;
            }
            ++line_;
            if (!inQuotes_) {
                EndRecord();
                recordLine_ = line_;
                continue;
            }
            // A line break inside quotes: a field may hold one, or a quote was never closed.
            // Which one it is shows when the next line has begun.
            record_ += c;
            pendingRowStart_ = record_.size();
        }
    }

    void Finish() {
        if (Failed())
            return;
        if (!skipping_ && !record_.empty()) {
            if (!headerSeen_)
                EndRecord(); // a header without a line end is still a header
            else
                report_.cutLastLine = true;
        }
        if (!headerSeen_ && !Failed())
            error_ = QStringLiteral("the file is empty, not a Zelvox journal");
        Flush();
    }

private:
    static constexpr std::size_t kNone = std::string::npos;

    void Reset() {
        record_.clear();
        inQuotes_ = false;
        pendingRowStart_ = kNone;
    }

    void Damaged() {
        if (!headerSeen_) {
            error_ = QStringLiteral("not a Zelvox journal (its first line is not a journal's header)");
        } else {
            if (report_.damaged++ == 0)
                report_.firstDamagedLine = recordLine_;
        }
        Reset();
    }

    // A line that starts a row follows the line break inside quotes: the quote was never closed.
    // The record up to that break is damaged; the new row starts there.
    void CheckRowStart() {
        const std::size_t start = pendingRowStart_;
        pendingRowStart_ = kNone;
        if (!StartsARow(std::string_view(record_).substr(start)))
            return;
        const std::string rest = record_.substr(start);
        Damaged();
        record_ = rest;
        recordLine_ = line_;
    }

    // Splits the record into fields, undoing the quoting; false when it is not well formed.
    bool SplitFields(std::string_view raw) {
        unquoted_.clear();
        fieldCount_ = 0;
        std::size_t pos = 0;
        for (;;) {
            if (fieldCount_ == kFields)
                return false;
            const std::size_t begin = unquoted_.size();
            if (pos < raw.size() && raw[pos] == '"') {
                ++pos;
                for (;;) {
                    if (pos >= raw.size())
                        return false;
                    const char c = raw[pos++];
                    if (c == '"') {
                        if (pos < raw.size() && raw[pos] == '"') {
                            unquoted_ += '"';
                            ++pos;
                            continue;
                        }
                        break;
                    }
                    unquoted_ += c;
                }
                if (pos < raw.size() && raw[pos] != ',')
                    return false; // text after the closing quote
            } else {
                while (pos < raw.size() && raw[pos] != ',') {
                    const char c = raw[pos++];
                    if (c == '"' || c == '\r' || c == '\0')
                        return false; // a zero-filled block after a power cut, or a stray quote
                    unquoted_ += c;
                }
            }
            fields_[fieldCount_++] = {begin, unquoted_.size() - begin};
            if (pos >= raw.size())
                return true;
            ++pos; // the comma
        }
    }

    std::string_view Field(std::size_t i) const {
        return std::string_view(unquoted_).substr(fields_[i].first, fields_[i].second);
    }

    void EndRecord() {
        std::string_view raw(record_);
        if (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        if (!headerSeen_) {
            // Spreadsheet programs put a byte order mark before the text of a CSV file they save.
            if (raw.substr(0, 3) == "\xEF\xBB\xBF")
                raw.remove_prefix(3);
            static const std::array<std::string_view, kFields> names = {"DateTime", "Index", "Value",
                                                                        "Type",     "Time",  "Number"};
            bool ok = SplitFields(raw) && fieldCount_ == kFields;
            for (std::size_t i = 0; ok && i < kFields; ++i)
                ok = Field(i) == names[i];
            if (!ok) {
                Damaged();
                return;
            }
            headerSeen_ = true;
        } else if (raw.empty()) {
            // A blank line holds no row.
        } else if (!TakeRow(raw)) {
            Damaged();
            return;
        }
        Reset();
    }

    bool TakeRow(std::string_view raw) {
        if (!SplitFields(raw) || fieldCount_ != kFields)
            return false;
        JournalRow row;
        if (!ParseIndex(Field(1), row.index) || !ParseReading(Field(2), Field(5), row.reading) ||
            !ParseIsoDateTime(Field(0), row.at) || ToUtf8(FormatTime(row.at)) != Field(4))
            return false;
        const int code = FunctionCodeOf(Field(3));
        if (code < 0)
            return false;
        row.reading.functionCode = static_cast<std::uint8_t>(code);
        // The texts the table will show must be the ones in the file.
        if (!ShownAs(row.reading, Field(2)))
            return false;

        if (report_.rows > 0 && row.index != previousIndex_ + 1) {
            if (report_.indexGaps++ == 0) {
                report_.firstGapLine = recordLine_;
                report_.firstGapFrom = previousIndex_;
                report_.firstGapTo = row.index;
            }
        }
        previousIndex_ = row.index;
        report_.largestIndex = std::max<std::int64_t>(report_.largestIndex, row.index);
        ++report_.rows;
        batch_.push_back(row);
        if (batch_.size() == kJournalBatchRows)
            Flush();
        return true;
    }

    void Flush() {
        if (batch_.empty())
            return;
        if (sink_)
            sink_(std::move(batch_));
        batch_ = {};
        batch_.reserve(kJournalBatchRows);
    }

    static constexpr std::size_t kFields = 6;

    const JournalSink& sink_;
    JournalReport& report_;
    QString error_;
    std::string record_;   // the raw bytes of the record being read
    std::string unquoted_; // its fields, unquoted, back to back
    std::array<std::pair<std::size_t, std::size_t>, kFields> fields_{};
    std::size_t fieldCount_ = 0;
    bool inQuotes_ = false;
    bool skipping_ = false;
    bool headerSeen_ = false;
    std::size_t pendingRowStart_ = kNone; // where a line began inside quotes, until it is judged
    std::int64_t line_ = 1;               // the line being read, from 1
    std::int64_t recordLine_ = 1;         // the line the current record began on
    int previousIndex_ = 0;
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
        text += QStringLiteral("; 1 damaged row skipped (line %1)").arg(firstDamagedLine);
    else if (damaged > 1)
        text += QStringLiteral("; %1 damaged rows skipped (the first at line %2)")
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
