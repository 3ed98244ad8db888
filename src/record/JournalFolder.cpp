#include "record/JournalFolder.h"

#include "record/ReadingRecord.h"
#include "record/RowCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

namespace zelvox {

namespace {

constexpr std::string_view kMagic = "zelvox outbox 1\n";
constexpr const char* kTargetAttribute = "user.zelvox.target";
// "2026-12-08T10-42-06": every journal name begins with its start moment.
constexpr std::size_t kStampSize = 19;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string HiddenBeside(const std::string& journalPath, std::string_view suffix) {
    return FolderOf(journalPath) + "." + NameOf(journalPath) + std::string(suffix);
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The start moment, then the run's number within its second.
std::pair<std::string, long> JournalOrder(const std::string& name) {
    const std::string stem = name.substr(0, name.size() - 4);
    if (stem.size() == kStampSize)
        return {stem, 1};
    return {stem.substr(0, kStampSize), std::atol(stem.c_str() + kStampSize + 1)};
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::uint64_t SizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::vector<std::string> NamesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

// The complete lines of the file from offset on (from the line after the header when offset is 0),
// counted up to `enough`.
std::uint64_t LinesAfter(const std::string& path, std::uint64_t offset, std::uint64_t enough = UINT64_MAX) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::uint64_t lines = 0;
    bool headerToSkip = offset == 0;
    char buf[65536];
    for (off_t at = static_cast<off_t>(offset);;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n <= 0)
            break;
        for (const char* p = buf; (p = static_cast<const char*>(std::memchr(p, '\n', buf + n - p))); ++p) {
            if (headerToSkip)
                headerToSkip = false;
            else if (++lines == enough)
                break;
        }
        if (lines == enough)
            break;
        at += n;
    }
    ::close(fd);
    return lines;
}

// True when offset is 0 or ends a line of the journal open at fd: a mark the journal can hold.
bool OutboxMarkFits(int journalFd, std::uint64_t offset) {
    if (offset == 0)
        return true;
    char last = 0;
    return ::pread(journalFd, &last, 1, static_cast<off_t>(offset - 1)) == 1 && last == '\n';
}

} // namespace

std::string JournalFileName(const WallTime& start, int n) {
    const std::string stamp = FormatFileStamp(start);
    return n <= 1 ? stamp + ".csv" : stamp + "_" + std::to_string(n) + ".csv";
}

bool IsJournalName(std::string_view name) {
    if (name.size() < kStampSize + 4 || !name.ends_with(".csv"))
        return false;
    for (std::size_t i = 0; i < kStampSize; ++i) {
        const char want = i == 4 || i == 7 || i == 13 || i == 16 ? '-' : i == 10 ? 'T' : '0';
        if (want == '0' ? !(name[i] >= '0' && name[i] <= '9') : name[i] != want)
            return false;
    }
    const std::string_view rest = name.substr(kStampSize, name.size() - kStampSize - 4);
    return rest.empty() || (rest[0] == '_' && rest.size() <= 10 && AllDigits(rest.substr(1)));
}

std::vector<std::string> JournalsNewestFirst(const std::string& dir) {
    std::vector<std::string> names;
    for (std::string& name : NamesIn(dir))
        if (IsJournalName(name))
            names.push_back(std::move(name));
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return JournalOrder(a) > JournalOrder(b); });
    for (std::string& name : names)
        name = dir + "/" + name;
    return names;
}

std::string OpenMarkerPath(const std::string& journalPath) {
    return HiddenBeside(journalPath, ".open");
}

std::string InterruptedMarkerPath(const std::string& journalPath) {
    return HiddenBeside(journalPath, ".interrupted");
}

std::string OutboxSidecarPath(const std::string& journalPath) {
    return HiddenBeside(journalPath, ".mqtt");
}

std::string EventsFilePath(const std::string& journalPath) {
    const std::string_view path(journalPath);
    return std::string(path.ends_with(".csv") ? path.substr(0, path.size() - 4) : path) + ".events.csv";
}

std::string RunIdOf(const std::string& journalPath) {
    std::string name = NameOf(journalPath);
    if (name.size() > 4 && name.ends_with(".csv"))
        name.resize(name.size() - 4);
    return name;
}

bool HeldByAnotherProgram(const std::string& journalPath) {
    const int fd = ::open(journalPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    struct flock sending {};
    sending.l_type = F_WRLCK;
    sending.l_whence = SEEK_SET;
    held = held || (::fcntl(fd, F_OFD_GETLK, &sending) == 0 && sending.l_type != F_UNLCK);
    ::close(fd);
    return held;
}

void HoldForSending(int journalFd) {
    struct flock sending {};
    sending.l_type = F_RDLCK;
    sending.l_whence = SEEK_SET;
    ::fcntl(journalFd, F_OFD_SETLK, &sending);
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

SidecarState ReadSidecar(const std::string& journalPath, const std::string& target, OutboxMark& mark) {
    const std::string sidecar = OutboxSidecarPath(journalPath);
    if (!ReadOutboxMark(sidecar, mark))
        return Exists(sidecar) ? SidecarState::Unreadable : SidecarState::Missing;
    if (!target.empty() && mark.target != target)
        return SidecarState::OtherBroker;
    const int fd = ::open(journalPath.c_str(), O_RDONLY | O_CLOEXEC);
    const bool fits = fd >= 0 && OutboxMarkFits(fd, mark.ackedOffset);
    if (fd >= 0)
        ::close(fd);
    return fits ? SidecarState::Fits : SidecarState::TooLarge;
}

bool RecordJournalTarget(int journalFd, const std::string& target) {
    return ::fsetxattr(journalFd, kTargetAttribute, target.data(), target.size(), 0) == 0;
}

std::string RecordedJournalTarget(const std::string& journalPath) {
    char buf[1024];
    const ssize_t n = ::getxattr(journalPath.c_str(), kTargetAttribute, buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

std::uint64_t UnsentRows(const std::string& journalPath, const std::string& target, bool adoptUnmarked,
                         std::uint64_t enough) {
    OutboxMark mark;
    switch (ReadSidecar(journalPath, target, mark)) {
    case SidecarState::Fits:
        return LinesAfter(journalPath, mark.ackedOffset, enough);
    case SidecarState::OtherBroker:
        return 0;
    case SidecarState::TooLarge:
        // It was for this broker, but where it stopped is not known: everything again.
        return LinesAfter(journalPath, 0, enough);
    case SidecarState::Missing:
    case SidecarState::Unreadable:
        break;
    }
    const bool ours = adoptUnmarked || (!target.empty() && RecordedJournalTarget(journalPath) == target);
    return ours ? LinesAfter(journalPath, 0, enough) : 0;
}

bool JournalHasUnsentTail(const std::string& journalPath) {
    return UnsentRows(journalPath, {}, false, 1) > 0;
}

std::vector<std::string> JournalsToSend(const std::string& dir, const std::string& target,
                                        bool adoptUnmarked) {
    std::vector<std::string> paths;
    // One that another program writes or sends is that program's to send, under its own runs.
    for (const std::string& path : JournalsNewestFirst(dir))
        if (!HeldByAnotherProgram(path) && UnsentRows(path, target, adoptUnmarked, 1) > 0)
            paths.push_back(path);
    std::reverse(paths.begin(), paths.end());
    return paths;
}

std::vector<InterruptedRun> TakeInterruptedJournals(const std::string& dir) {
    std::vector<InterruptedRun> newestFirst;
    const std::vector<std::string> names = NamesIn(dir);
    for (const std::string& path : JournalsNewestFirst(dir)) {
        const std::string open = OpenMarkerPath(path);
        const std::string named = InterruptedMarkerPath(path);
        const bool wasOpen = Exists(open) && !HeldByAnotherProgram(path);
        if (!wasOpen && !Exists(named))
            continue;
        // Named from now on; in a folder we cannot write, it is found as interrupted each time.
        if (wasOpen) {
            [[maybe_unused]] const int renamed = ::rename(open.c_str(), named.c_str());
        }
        newestFirst.push_back({path, SizeOf(path)});
    }
    // Markers whose journal has gone.
    for (const std::string& name : names) {
        for (std::string_view suffix : {std::string_view(".open"), std::string_view(".interrupted")}) {
            if (name.size() > suffix.size() + 1 && name[0] == '.' && name.ends_with(suffix)) {
                const std::string journal = dir + "/" + name.substr(1, name.size() - 1 - suffix.size());
                if (IsJournalName(NameOf(journal)) && !Exists(journal))
                    ::unlink((dir + "/" + name).c_str());
            }
        }
    }
    return newestFirst;
}

void ForgetInterrupted(const std::string& journalPath) {
    ::unlink(InterruptedMarkerPath(journalPath).c_str());
}

namespace {

// The instant of the first and of the last row of a journal, and how many rows it holds.
RemovedJournal Measure(const std::string& path, std::uint64_t size) {
    RemovedJournal r{NameOf(path), 0, LinesAfter(path, 0), size};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return r;
    const auto rowAt = [&](off_t from, bool last, JournalRow& row) {
        char buf[2048];
        const ssize_t n = ::pread(fd, buf, sizeof buf, from);
        if (n <= 0)
            return false;
        const std::string_view text(buf, static_cast<std::size_t>(n));
        std::size_t begin = 0, end = text.find('\n');
        if (last) {
            end = text.rfind('\n');
            const std::size_t before = end == 0 || end == std::string_view::npos ? std::string_view::npos
                                                                                 : text.rfind('\n', end - 1);
            begin = before == std::string_view::npos ? 0 : before + 1;
        } else if (end != std::string_view::npos) {
            begin = end + 1; // after the header
            end = text.find('\n', begin);
        }
        if (end == std::string_view::npos || end <= begin)
            return false;
        std::string_view line = text.substr(begin, end - begin);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        return ReadJournalLine(line, row) == LineKind::Row;
    };
    JournalRow first, last;
    if (rowAt(0, false, first) && rowAt(static_cast<off_t>(size > 2048 ? size - 2048 : 0), true, last))
        r.spanMs = std::max<std::int64_t>(0, last.at.EpochMs() - first.at.EpochMs());
    ::close(fd);
    return r;
}

} // namespace

PruneResult PruneJournals(const std::string& dir, const PruneRules& rules) {
    PruneResult result;
    std::uint64_t bytes = 0;
    const std::time_t oldest = std::time(nullptr) - static_cast<std::time_t>(rules.keepDays) * 86400;
    bool full = false; // once the journals are over the size, every older one goes too
    for (const std::string& path : JournalsNewestFirst(dir)) {
        if (Exists(OpenMarkerPath(path)) || Exists(InterruptedMarkerPath(path)) ||
            HeldByAnotherProgram(path) || (rules.keep && rules.keep(path)))
            continue;
        if (!rules.publishingTo.empty() && UnsentRows(path, rules.publishingTo, rules.adoptUnmarked, 1) > 0)
            continue;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            continue;
        const auto size = static_cast<std::uint64_t>(st.st_size);
        full = full || bytes + size > rules.keepBytes;
        if (!full && (rules.keepDays <= 0 || st.st_mtime >= oldest)) {
            bytes += size;
            continue;
        }
        OutboxMark mark;
        const std::string sidecar = OutboxSidecarPath(path);
        const bool marked = ReadOutboxMark(sidecar, mark);
        const std::uint64_t unsent = marked ? LinesAfter(path, mark.ackedOffset) : 0;
        RemovedJournal measured = Measure(path, size);
        if (::unlink(path.c_str()) != 0)
            continue;
        ::unlink(sidecar.c_str());
        ::unlink(EventsFilePath(path).c_str());
        ++result.removed;
        result.removedBytes += size;
        result.journals.push_back(std::move(measured));
        if (unsent > 0) {
            ++result.removedUnsent;
            result.unsentRows += unsent;
            if (std::find(result.unsentTargets.begin(), result.unsentTargets.end(), mark.target) ==
                result.unsentTargets.end())
                result.unsentTargets.push_back(mark.target);
        }
    }
    return result;
}

std::string FormatSpan(std::int64_t ms) {
    const std::int64_t s = ms / 1000;
    const auto count = [](std::int64_t n, const char* unit) {
        return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
    };
    if (s >= 2 * 86400)
        return count(s / 86400, "day");
    if (s >= 2 * 3600)
        return count(s / 3600, "hour");
    if (s >= 2 * 60)
        return count(s / 60, "minute");
    return count(s, "second");
}

bool SetKeepOption(std::string_view option, const std::string& value, PruneRules& rules, std::string* error) {
    if (value.empty())
        return true;
    char* end = nullptr;
    const unsigned long long n =
        value[0] < '0' || value[0] > '9' ? 0 : std::strtoull(value.c_str(), &end, 10);
    if (!end || *end != '\0' || n == 0 || n > 1000000) {
        *error = "--" + std::string(option) + " takes a whole number from 1 to 1000000";
        return false;
    }
    if (option == "keep-days")
        rules.keepDays = static_cast<int>(n);
    else
        rules.keepBytes = n * 1024 * 1024;
    return true;
}

std::string FormatCount(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

std::string FormatBytes(std::uint64_t n) {
    if (n >= 10ull * 1024 * 1024)
        return FormatCount(n / (1024 * 1024)) + " MB";
    if (n >= 10ull * 1024)
        return FormatCount(n / 1024) + " KB";
    return FormatCount(n) + (n == 1 ? " byte" : " bytes");
}

std::string DescribePrune(const PruneResult& r) {
    std::string text;
    for (std::size_t i = 0; i < r.journals.size() && i < kMaxNamed; ++i) {
        const RemovedJournal& j = r.journals[i];
        text += (text.empty() ? "" : "\n") +
                ("Removed " + j.name + ": " + FormatSpan(j.spanMs) + ", " + FormatCount(j.rows) +
                 (j.rows == 1 ? " reading, " : " readings, ") + FormatBytes(j.bytes));
    }
    if (r.journals.size() > kMaxNamed) {
        std::uint64_t bytes = 0;
        for (std::size_t i = kMaxNamed; i < r.journals.size(); ++i)
            bytes += r.journals[i].bytes;
        const std::size_t more = r.journals.size() - kMaxNamed;
        text += "\nRemoved " + std::to_string(more) + (more == 1 ? " older journal, " : " older journals, ") +
                FormatBytes(bytes);
    }
    if (r.removedUnsent > 0) {
        text += std::string(text.empty() ? "" : "\n") + "Removed " +
                (r.removedUnsent == 1 ? std::string("1 journal")
                                      : std::to_string(r.removedUnsent) + " journals") +
                " with " + FormatCount(r.unsentRows) + (r.unsentRows == 1 ? " reading" : " readings") +
                " never sent to ";
        for (std::size_t i = 0; i < r.unsentTargets.size(); ++i)
            text += (i == 0 ? "" : i + 1 == r.unsentTargets.size() ? " and " : ", ") + r.unsentTargets[i];
    }
    return text;
}

} // namespace zelvox
