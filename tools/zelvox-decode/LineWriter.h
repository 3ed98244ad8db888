// Standard output of zelvox-decode: one line per reading, in the chosen format.
#pragma once

#include "record/RowCodec.h"

#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvox {

// Writes lines to standard output, each with as few write() calls as it takes (one, for any
// line a pipe can take atomically).
class LineWriter {
public:
    explicit LineWriter(RecordFormat format) : format_(format) {}

    // Called with each line's record before the line is written.
    std::function<void(const DispatchedReading&)> onLine;

    // False once output is impossible (closed pipe, full disk); error() says why.
    bool Emit(const Reading& r) {
        const DispatchedReading dispatched = MakeDispatchedReading(1, index_, WallTimeNow(), r);
        if (onLine)
            onLine(dispatched);
        if (format_ == RecordFormat::Csv && !headerDone_) {
            headerDone_ = true;
            if (!Write(CsvHeader()))
                return false;
        }
        ++index_;
        return Write(RecordLine(format_, dispatched));
    }

    // The CSV header comes first even when no reading ever does; output appended to a file
    // that already holds lines (>> log.csv) gets none, so the file keeps a single header.
    bool Start() {
        if (format_ != RecordFormat::Csv)
            return true;
        struct stat st {};
        const bool appending =
            (::fcntl(STDOUT_FILENO, F_GETFL) & O_APPEND) != 0 || ::lseek(STDOUT_FILENO, 0, SEEK_CUR) > 0;
        if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && appending) {
            headerDone_ = true;
            return true;
        }
        headerDone_ = true;
        return Write(CsvHeader());
    }

    int error() const { return error_; }
    // True once a line (or the header) has gone out whole.
    bool WroteAny() const { return wroteAny_; }

private:
    bool Write(const std::string& s) {
        const bool ok = WriteAll(STDOUT_FILENO, s, &error_);
        wroteAny_ = wroteAny_ || ok;
        return ok;
    }

    RecordFormat format_;
    bool wroteAny_ = false;
    std::int64_t index_ = 0; // the Index of the next line, as the table would give it
    bool headerDone_ = false;
    int error_ = 0;
};

// The exit status after an output error, said on standard error: a reader that went away
// (EPIPE) is an ordinary end; output that took not even the first line (closed, a full disk) is
// status 2, as a wrong command line is.
int OutputFailed(const LineWriter& out);

} // namespace zelvox
