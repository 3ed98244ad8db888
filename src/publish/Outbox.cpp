#include "publish/Outbox.h"

#include "publish/Publisher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zelvox {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

// Memory held for rows the journal could not take is given back in steps of this size.
constexpr std::size_t kHeldTrim = 1 << 20;

} // namespace

// One journal on its way to the broker, or rows held in memory while the journal is off (path
// empty, no sidecar).
struct Outbox::File {
    std::string path, run;
    int fd = -1, sidecar = -1;
    bool memory = false;
    std::string bytes;      // memory: the rows from offset base on, as a journal holds them
    std::uint64_t base = 0; // memory: the offset of bytes[0]
    OutboxMark mark;
    std::uint64_t readOffset = 0; // the next row to send
    std::uint64_t scanned = 0;    // just after the last complete line seen
    std::uint64_t searched = 0;   // bytes looked through for line ends
    std::uint64_t lines = 0;      // complete lines seen, the header included
    bool dirty = false;           // mark changed since the last sync
    ~File() {
        if (fd >= 0)
            ::close(fd);
        if (sidecar >= 0)
            ::close(sidecar);
    }
    std::uint64_t Rows() const { return lines > 0 ? lines - 1 : 0; }
    ssize_t Read(char* to, std::size_t size, std::uint64_t offset) const {
        if (!memory)
            return ::pread(fd, to, size, static_cast<off_t>(offset));
        if (offset < base || offset - base >= bytes.size())
            return 0;
        const std::size_t n = std::min<std::size_t>(size, bytes.size() - (offset - base));
        std::memcpy(to, bytes.data() + (offset - base), n);
        return static_cast<ssize_t>(n);
    }
};

Outbox::Outbox(std::string target, std::string clientId, std::function<void(const std::string&)> say)
    : target_(std::move(target)), clientId_(std::move(clientId)), say_(std::move(say)), buffer_(kReadChunk) {}

Outbox::~Outbox() = default;

void Outbox::Adopt(const std::string& path, bool atStart) {
    heldOpen_ = false;
    for (const auto& f : files_)
        if (f->path == path) {
            if (files_.back() == f)
                Scan(*f);
            return;
        }
    if (!files_.empty())
        Scan(*files_.back()); // the rows appended to the previous run before it ended
    auto file = std::make_unique<File>();
    file->path = path;
    file->run = PublishedRunId(clientId_, path);
    lastRun_ = file->run;
    file->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const std::string run = RunIdOf(path);
    if (file->fd < 0) {
        // Tried again with the journal's next row, or at the next start.
        say_("cannot open the journal " + run + " to send it: " + std::strerror(errno));
        return;
    }
    // Held while it is sent (beside its writer's flock, which ends with the run), so that no
    // other program takes it up as a backlog of its own.
    HoldForSending(file->fd);
    const std::string recorded = RecordedJournalTarget(path);
    if (recorded.empty())
        RecordJournalTarget(file->fd, target_); // its rows are for this broker from now on
    const SidecarState sidecar = ReadSidecar(path, target_, file->mark);
    std::string distrust;
    switch (sidecar) {
    case SidecarState::Fits:
        break;
    case SidecarState::Missing:
        // A new journal has none yet; one made for this broker in an earlier run lost it.
        if (atStart && recorded == target_)
            distrust = "its sidecar is missing";
        break;
    case SidecarState::Unreadable:
        distrust = "its sidecar cannot be read";
        break;
    case SidecarState::OtherBroker:
        distrust = "its sidecar names " + file->mark.target;
        break;
    case SidecarState::TooLarge:
        distrust = "its sidecar counts more than the journal holds";
        break;
    }
    const bool known = sidecar == SidecarState::Fits;
    // Repeats are dropped by (run, index); a lost row is not found again.
    if (!distrust.empty())
        say_("journal " + run + ": " + distrust + "; sending it again from the start");
    if (!known)
        file->mark = OutboxMark{target_, 0, 0};
    const std::string sidecarPath = OutboxSidecarPath(path);
    file->sidecar = ::open(sidecarPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (file->sidecar < 0)
        say_("cannot keep the sidecar of journal " + run + " (" + std::strerror(errno) +
             "): its rows go again after a restart");
    file->readOffset = file->mark.ackedOffset;
    if (file->readOffset > 0) {
        // Count what is already acknowledged as seen; only what follows is scanned.
        file->scanned = file->searched = file->readOffset;
        file->lines = file->mark.ackedRows + 1;
    }
    if (!known) {
        WriteMark(*file);
        ::fdatasync(file->sidecar);
        // The new name must survive a power cut, or the journal would not be resent.
        const std::string folder = path.substr(0, path.rfind('/') + 1);
        const int dirFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            ::fsync(dirFd);
            ::close(dirFd);
        }
    }
    Scan(*file);
    files_.push_back(std::move(file));
}

void Outbox::Hold(const std::string& lines, const std::string& run) {
    if (!heldOpen_ || files_.empty() || !files_.back()->memory) {
        if (!files_.empty())
            Scan(*files_.back());
        auto file = std::make_unique<File>();
        file->memory = true;
        // The rows continue the run of the journal that was turned off.
        file->run = lastRun_.empty() ? run : lastRun_;
        file->mark = OutboxMark{target_, 0, 0};
        file->bytes = CsvHeader();
        files_.push_back(std::move(file));
        heldOpen_ = true;
    }
    files_.back()->bytes += lines;
    Scan(*files_.back());
}

std::uint64_t Outbox::LineEndFrom(const File& file, std::uint64_t from) {
    for (;;) {
        const ssize_t n = file.Read(buffer_.data(), buffer_.size(), from);
        if (n <= 0)
            return 0;
        const void* nl = std::memchr(buffer_.data(), '\n', static_cast<std::size_t>(n));
        if (nl)
            return from + static_cast<std::uint64_t>(static_cast<const char*>(nl) - buffer_.data()) + 1;
        from += static_cast<std::uint64_t>(n);
    }
}

void Outbox::Scan(File& file) {
    for (;;) {
        const ssize_t n = file.Read(buffer_.data(), buffer_.size(), file.searched);
        if (n <= 0)
            return;
        const char* begin = buffer_.data();
        for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, '\n', begin + n - p)));
             ++p) {
            ++file.lines;
            file.scanned = file.searched + static_cast<std::uint64_t>(p - begin + 1);
        }
        file.searched += static_cast<std::uint64_t>(n);
    }
}

void Outbox::WriteMark(File& file) {
    if (file.sidecar < 0)
        return;
    const std::string text = FormatOutboxMark(file.mark);
    [[maybe_unused]] const ssize_t n = ::pwrite(file.sidecar, text.data(), text.size(), 0);
}

void Outbox::SyncMarks(bool force) {
    const Clock::time_point now = Clock::now();
    if (!force && now < nextSync_)
        return;
    nextSync_ = now + std::chrono::seconds(1);
    // The marks are written in place and synced once a round, not per acknowledgement.
    for (const auto& f : files_)
        if (f->dirty) {
            f->dirty = false;
            WriteMark(*f);
            ::fdatasync(f->sidecar);
        }
}

bool Outbox::Dirty() const {
    return std::any_of(files_.begin(), files_.end(), [](const auto& f) { return f->dirty; });
}

std::uint64_t Outbox::Backlog() const {
    std::uint64_t n = 0;
    for (const auto& f : files_)
        n += f->Rows() - std::min(f->Rows(), f->mark.ackedRows);
    return n;
}

void Outbox::Track(int mid, File* file, std::uint64_t endOffset, bool acked) {
    if (inflight_.empty())
        frontSince_ = Clock::now();
    if (!acked)
        seqOfMid_[mid] = frontSeq_ + inflight_.size();
    inflight_.push_back({mid, file, endOffset, acked});
}

bool Outbox::Fill(std::size_t window, const SendRow& send) {
    if (Resending())
        return true; // what the last connection left unacknowledged is being sent again
    window = std::max<std::size_t>(1, window);
    for (const auto& f : files_) {
        while (inflight_.size() < window && f->readOffset < f->scanned) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), f->scanned - f->readOffset));
            const ssize_t n = f->Read(buffer_.data(), want, f->readOffset);
            if (n <= 0)
                return true;
            const char* begin = buffer_.data();
            const char* end = begin + n;
            const char* p = begin;
            while (inflight_.size() < window) {
                const char* nl =
                    static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
                if (!nl)
                    break;
                std::string_view line(p, static_cast<std::size_t>(nl - p));
                if (line.ends_with('\r'))
                    line.remove_suffix(1);
                const std::uint64_t lineEnd = f->readOffset + static_cast<std::uint64_t>(nl + 1 - begin);
                if (f->readOffset + static_cast<std::uint64_t>(p - begin) == 0) {
                    // The header: nothing to send, and nothing before it to wait for.
                    f->mark.ackedOffset = lineEnd;
                    f->dirty = true;
                } else if (ReadJournalLine(line, row_) == LineKind::Row) {
                    int mid = 0;
                    if (!send(row_, f->run, &mid)) {
                        f->readOffset += static_cast<std::uint64_t>(p - begin);
                        return false;
                    }
                    Track(mid, f.get(), lineEnd, false);
                } else {
                    Track(-1, f.get(), lineEnd, true); // a damaged line: passed over, in its place
                }
                p = nl + 1;
            }
            if (p == begin) {
                // A line longer than a whole chunk is no row: passed over like any damage.
                const std::uint64_t lineEnd = LineEndFrom(*f, f->readOffset);
                if (lineEnd == 0)
                    return true;
                Track(-1, f.get(), lineEnd, true);
                f->readOffset = lineEnd;
                continue;
            }
            f->readOffset += static_cast<std::uint64_t>(p - begin);
        }
        if (f->readOffset < f->scanned)
            break; // the window is full; later journals wait their turn
    }
    return true;
}

std::uint64_t Outbox::Acknowledge(const std::vector<int>& mids) {
    std::uint64_t heldAcked = 0;
    for (const int mid : mids) {
        const auto it = seqOfMid_.find(mid);
        if (it == seqOfMid_.end())
            continue; // a status or discovery message
        inflight_[static_cast<std::size_t>(it->second - frontSeq_)].acked = true;
        seqOfMid_.erase(it);
    }
    while (!inflight_.empty() && inflight_.front().acked) {
        File& f = *inflight_.front().file;
        f.mark.ackedOffset = inflight_.front().endOffset;
        ++f.mark.ackedRows;
        f.dirty = true;
        if (inflight_.front().mid >= 0)
            ++acknowledged_;
        if (f.memory)
            ++heldAcked;
        inflight_.pop_front();
        ++frontSeq_;
        frontSince_ = Clock::now();
    }
    // Journals before the current one are done once read and acknowledged to their end.
    while (files_.size() > 1 && files_.front()->readOffset >= files_.front()->scanned &&
           files_.front()->mark.ackedOffset >= files_.front()->readOffset &&
           (inflight_.empty() || inflight_.front().file != files_.front().get())) {
        Scan(*files_.front());
        if (files_.front()->readOffset < files_.front()->scanned)
            break;
        if (files_.front()->dirty) {
            WriteMark(*files_.front());
            ::fdatasync(files_.front()->sidecar);
        }
        files_.pop_front();
    }
    for (const auto& f : files_)
        if (f->memory && f->mark.ackedOffset - f->base >= kHeldTrim) {
            f->bytes.erase(0, f->mark.ackedOffset - f->base);
            f->base = f->mark.ackedOffset;
        }
    return heldAcked;
}

void Outbox::Reconnected() {
    fenceSeq_ = frontSeq_ + inflight_.size();
    frontSince_ = Clock::now();
}

bool Outbox::AckOverdue(std::chrono::milliseconds timeout) const {
    return !inflight_.empty() && Clock::now() - frontSince_ > timeout;
}

void Outbox::RestartAckClock() {
    frontSince_ = Clock::now();
}

} // namespace zelvox
