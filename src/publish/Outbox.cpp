#include "publish/Outbox.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zelvox {

namespace {

constexpr std::string_view kMagic = "zelvox outbox 1\n";

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Journal names sort by start time, then by the _N suffix of runs started in the same second.
std::pair<std::string, int> JournalOrder(const std::string& name) {
    const std::string stem = name.substr(0, name.size() - 4);
    const std::size_t under = stem.find('_');
    if (under == std::string::npos)
        return {stem, 1};
    return {stem.substr(0, under), std::atoi(stem.c_str() + under + 1)};
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// True when the file holds a complete line (one ending in a line feed) after offset.
bool HasLineAfter(const std::string& path, std::uint64_t offset) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[65536];
    bool found = false;
    for (off_t at = static_cast<off_t>(offset);;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n <= 0)
            break;
        if (std::find(buf, buf + n, '\n') != buf + n) {
            found = true;
            break;
        }
        at += n;
    }
    ::close(fd);
    return found;
}

} // namespace

std::string OutboxSidecarPath(const std::string& journalPath) {
    return FolderOf(journalPath) + "." + NameOf(journalPath) + ".mqtt";
}

std::string FormatOutboxMark(const OutboxMark& mark) {
    char counters[64];
    std::snprintf(counters, sizeof counters, "%020llu %020llu\n",
                  static_cast<unsigned long long>(mark.ackedRows),
                  static_cast<unsigned long long>(mark.ackedOffset));
    return std::string(kMagic) + mark.target + "\n" + counters;
}

bool ReadOutboxMark(const std::string& sidecarPath, OutboxMark& mark) {
    const int fd = ::open(sidecarPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0)
        return false;
    const std::string_view text(buf, static_cast<std::size_t>(n));
    if (!text.starts_with(kMagic))
        return false;
    const std::size_t targetEnd = text.find('\n', kMagic.size());
    if (targetEnd == std::string_view::npos)
        return false;
    unsigned long long rows = 0, offset = 0;
    const std::string counters(text.substr(targetEnd + 1));
    if (std::sscanf(counters.c_str(), "%llu %llu", &rows, &offset) != 2)
        return false;
    mark.target = std::string(text.substr(kMagic.size(), targetEnd - kMagic.size()));
    mark.ackedRows = rows;
    mark.ackedOffset = offset;
    return true;
}

namespace {

// True when the journal holds a complete row after offset (0: after its header).
bool HasRowAfter(const std::string& journalPath, std::uint64_t offset) {
    if (offset == 0) {
        const int fd = ::open(journalPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        char buf[256];
        const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
        ::close(fd);
        if (n <= 0)
            return false;
        const char* end = std::find(buf, buf + n, '\n');
        if (end == buf + n)
            return false;
        offset = static_cast<std::uint64_t>(end - buf) + 1;
    }
    return HasLineAfter(journalPath, offset);
}

} // namespace

bool JournalHasUnsentTail(const std::string& journalPath) {
    OutboxMark mark;
    return ReadOutboxMark(OutboxSidecarPath(journalPath), mark) && HasRowAfter(journalPath, mark.ackedOffset);
}

std::string RunIdOf(const std::string& journalPath) {
    std::string name = NameOf(journalPath);
    if (name.size() > 4 && name.ends_with(".csv"))
        name.resize(name.size() - 4);
    return name;
}

std::vector<std::string> JournalsToSend(const std::string& dir, const std::string& target,
                                        bool adoptUnmarked) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return {};
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() < 5 || name[0] == '.' || !name.ends_with(".csv"))
            continue;
        const std::string path = dir + "/" + name;
        if (!FileExists(path))
            continue;
        OutboxMark mark;
        if (ReadOutboxMark(OutboxSidecarPath(path), mark)) {
            if (mark.target == target && JournalHasUnsentTail(path))
                names.push_back(name);
        } else if (adoptUnmarked && HasRowAfter(path, 0)) {
            names.push_back(name);
        }
    }
    ::closedir(d);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return JournalOrder(a) < JournalOrder(b); });
    std::vector<std::string> paths;
    for (const std::string& name : names)
        paths.push_back(dir + "/" + name);
    return paths;
}

} // namespace zelvox
