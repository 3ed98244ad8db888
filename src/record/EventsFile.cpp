#include "record/EventsFile.h"

#include "record/JournalFolder.h"

#include <cerrno>
#include <fcntl.h>
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
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
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

} // namespace zelvox
