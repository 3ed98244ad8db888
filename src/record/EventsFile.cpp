#include "record/EventsFile.h"

#include "record/JournalFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvox {

EventsFile::~EventsFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool EventsFile::Append(const std::string& journalPath, const EventRow& row, int* error) {
    std::lock_guard lock(mutex_);
    const std::string path = EventsFilePath(journalPath);
    if (path != path_) {
        if (fd_ >= 0)
            ::close(fd_);
        path_.clear();
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            *error = errno;
            return false;
        }
        path_ = path;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        *error = errno;
        return false;
    }
    std::string line = st.st_size == 0 ? EventsCsvHeader() : std::string();
    // A line a crash left torn is ended first, so that it costs itself alone.
    char last = '\n';
    if (st.st_size > 0 && ::pread(fd_, &last, 1, st.st_size - 1) == 1 && last != '\n')
        line = "\r\n";
    line += EventCsvLine(row);
    return WriteAll(fd_, line, error);
}

bool EventsFile::Sync(int* error) {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0 && ::fdatasync(fd_) != 0 && errno != EINVAL) {
        *error = errno;
        return false;
    }
    return true;
}

bool AppendEventRow(const std::string& journalPath, const EventRow& row, int* error) {
    EventsFile file;
    return file.Append(journalPath, row, error) && file.Sync(error);
}

std::vector<EventRow> ReadEventsFile(const std::string& journalPath, std::uint64_t* damaged,
                                     std::uint64_t from, std::uint64_t* end) {
    std::vector<EventRow> rows;
    *damaged = 0;
    std::ifstream in(EventsFilePath(journalPath), std::ios::binary);
    if (end) {
        *end = from;
        in.seekg(static_cast<std::streamoff>(from));
    }
    std::string line;
    while (std::getline(in, line)) {
        if (end) {
            if (in.eof())
                break; // a line still being written: read with the rest next time
            *end += line.size() + 1;
        }
        EventRow row;
        const LineKind kind = ReadEventLine(line, row);
        if (kind == LineKind::Row)
            rows.push_back(std::move(row));
        else if (kind == LineKind::Damaged)
            ++*damaged;
    }
    return rows;
}

} // namespace zelvox
