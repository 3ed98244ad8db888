// Reads a journal back into table rows, for `zelvox --load FILE` and the Run View.
//
// The file is read in pieces of bounded size, so memory follows the rows kept and not the size
// of the file or of its longest line. Each line is read by the row codec (record/RowCodec.h),
// as every reader of a journal reads it: a damaged line costs that line alone. The logger's CSV
// is the same format; a gzip-compressed file (a rotated log) is inflated as it is read.
#pragma once

#include "record/RowCodec.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zelvox {

// What a load found, besides the rows.
struct JournalReport {
    bool ok = false;
    bool cancelled = false;
    QString error; // why the file could not be read (ok false)
    std::int64_t rows = 0;
    std::int64_t damaged = 0; // lines left out because they were damaged
    std::int64_t firstDamagedLine = 0;
    bool cutLastLine = false;   // the last line had no line end (a power cut) and was left out
    std::int64_t indexGaps = 0; // places where the Index does not go on by one
    std::int64_t firstGapLine = 0;
    std::int64_t firstGapFrom = 0, firstGapTo = 0; // the indices on either side of the first gap
    std::int64_t largestIndex = -1;

    // One line for the status bar: "Loaded 94 rows from F; 1 damaged row skipped (first at
    // line 6); ..." or "Cannot load F: why".
    QString Summary(const QString& path) const;
};

struct LoadedJournal : JournalReport {
    std::vector<JournalRow> rows;
};

// Rows handed over as they are read, in file order.
using JournalSink = std::function<void(std::vector<JournalRow>&& rows)>;
// Bytes read so far and the file's size.
using JournalProgress = std::function<void(std::int64_t done, std::int64_t total)>;

inline constexpr std::size_t kJournalBatchRows = 8192;

// Reads a journal's bytes piece by piece, line by line, each line through the row codec, and
// hands the rows to sink in batches. A line longer than any row can be is passed over in
// pieces, never held whole; a line without its line end waits for the next piece.
class JournalParser {
public:
    JournalParser(const JournalSink& sink, JournalReport& report);

    bool Failed() const { return !error_.isEmpty(); }
    const QString& Error() const { return error_; }
    void Feed(const char* p, std::size_t n);
    // Hands over the rows read so far (Feed does at every kJournalBatchRows).
    void Flush();
    // The end of the file: a line without its line end is cut, a file without a header refused.
    void Finish();
    // Starts again on text that goes on after a header (a file truncated under a writer that
    // keeps writing): a header is taken, rows are too.
    void RestartWithoutHeader();

private:
    void Damaged();
    void Line(std::string_view line);
    void TakeRow(const JournalRow& row);

    const JournalSink& sink_;
    JournalReport& report_;
    QString error_;
    std::string pending_; // the start of a line that the next piece goes on with
    bool skipping_ = false;
    bool headerSeen_ = false;
    std::int64_t line_ = 1;  // the line being read, from 1
    std::int64_t taken_ = 0; // rows taken from this file
    std::int64_t previousIndex_ = 0;
    std::vector<JournalRow> batch_;
};

// The bytes of a journal file, plain or gzip-compressed (told by its first bytes, whatever its
// name), streamed. Only regular files open: a FIFO, a device or a folder is refused at once.
class JournalBytes {
public:
    JournalBytes();
    ~JournalBytes();
    JournalBytes(const JournalBytes&) = delete;
    JournalBytes& operator=(const JournalBytes&) = delete;

    bool Open(const QString& path, QString* why);
    // Up to n bytes of text; 0 at the end of what the file holds now; -1 with *why.
    long Read(char* p, std::size_t n, QString* why);
    int Fd() const { return fd_; }
    bool Compressed() const;
    // Bytes of the file taken so far (compressed bytes for a gzip file) and its size at Open.
    std::int64_t Consumed() const { return consumed_; }
    std::int64_t Size() const { return size_; }
    // Reads a plain file again from its start (it was truncated).
    void Rewind();

private:
    struct Inflater;
    int fd_ = -1;
    std::int64_t consumed_ = 0, size_ = 0;
    std::unique_ptr<Inflater> inflater_;
};

// True when the file at path (plain or gzip) begins with a journal's header line, as both the
// program's journals and the logger's CSV do; else false with *why.
bool HoldsJournalRows(const QString& path, QString* why);

// Reads the journal at path, giving sink batches of up to kJournalBatchRows rows. Only regular
// files are read (a FIFO, a device or a folder is refused at once). cancel, when set, ends the
// read between pieces.
JournalReport ReadJournal(const QString& path, const JournalSink& sink, const JournalProgress& progress = {},
                          const std::atomic<bool>* cancel = nullptr);

// The largest Index among the rows of the journal's last 64 KiB, or -1. A journal is written in
// Index order, so this is the largest Index of the file, found before the load reads it.
std::int64_t LargestIndexInTail(const QString& path);

// The whole journal at once (tools and tests).
LoadedJournal LoadJournal(const QString& path);

// A load on a worker thread. The rows reach rowsRead on this object's thread in batches, at
// most a few batches ahead of it; then finished comes once with the report. Deleting the
// object cancels the load and waits for the worker.
class JournalLoad : public QObject {
    Q_OBJECT
public:
    explicit JournalLoad(const QString& path, QObject* parent = nullptr);
    ~JournalLoad() override;

    void Start();
    // Ends the load at the next piece; finished still comes, with cancelled set.
    void Cancel();
    QString Path() const { return path_; }

signals:
    void rowsRead(const std::vector<zelvox::JournalRow>& rows);
    void progress(int percent);
    void finished(const zelvox::JournalReport& report);

private:
    struct Shared;
    QString path_;
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
};

} // namespace zelvox
