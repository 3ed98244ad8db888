// The outbox cursor: the journals (and rows held in memory while the journal is off) on their
// way to the broker, which row of them goes next, which rows are in flight, and how far the
// broker has acknowledged each journal, kept in its sidecar (record/JournalFolder.h).
//
// It reads journal rows back through ReadJournalLine and never touches the network: the
// publisher hands Fill a way to send one row. After a reconnect nothing new is handed out
// before every row that was in flight has been acknowledged, so that a run reaches the broker
// in index order. Outbox thread only.
#pragma once

#include "record/JournalFolder.h"
#include "record/RowCodec.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace zelvox {

class Outbox {
public:
    // target: the broker (MqttTarget::Name()) the sidecars name; clientId: the first part of
    // each run. say: what is said once about a journal (an untrusted sidecar, a file that
    // cannot be opened).
    Outbox(std::string target, std::string clientId, std::function<void(const std::string&)> say);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // A journal with rows to send: opened with its sidecar (made when there is none) the first
    // time, its new rows counted every time. atStart: found in the folder at start-up, not one
    // this run is writing.
    void Adopt(const std::string& path, bool atStart = false);
    // Rows held in memory (journal lines), after every journal adopted so far. They continue
    // the run of the newest journal, or are run `run` when there was none.
    void Hold(const std::string& lines, const std::string& run);

    // Sends one row of run; false when the library refused it (the connection is going down).
    using SendRow = std::function<bool(const JournalRow& row, const std::string& run, int* mid)>;
    // Hands rows to send until `window` are in flight, oldest journal first, each in index order.
    // False when send refused a row (it is the next to go).
    bool Fill(std::size_t window, const SendRow& send);
    // The broker acknowledged these mids (others, of status or discovery messages, are passed
    // over). Returns how many rows held in memory it acknowledged.
    std::uint64_t Acknowledge(const std::vector<int>& mids);

    // A new connection: the rows in flight are sent again by the library, and nothing new goes
    // out before they are acknowledged.
    void Reconnected();
    // True while the rows a connection left unacknowledged are still to be acknowledged.
    bool Resending() const { return frontSeq_ < fenceSeq_; }
    // The oldest row in flight has waited longer than timeout for its acknowledgement.
    bool AckOverdue(std::chrono::milliseconds timeout) const;
    // The connection is being made again: the wait for acknowledgements starts over.
    void RestartAckClock();

    // Writes the changed marks to the sidecars and syncs them, at most once a second unless
    // force.
    void SyncMarks(bool force);

    std::size_t InFlight() const { return inflight_.size(); }
    // Marks changed and not yet synced.
    bool Dirty() const;
    // Rows adopted that the broker has not acknowledged.
    std::uint64_t Backlog() const;
    // Rows the broker acknowledged since the start.
    std::uint64_t Acknowledged() const { return acknowledged_; }

private:
    using Clock = std::chrono::steady_clock;

    struct File;
    struct InFlightRow {
        int mid;
        File* file;
        std::uint64_t endOffset;
        bool acked;
    };

    std::uint64_t LineEndFrom(const File& file, std::uint64_t from);
    void Scan(File& file);
    void WriteMark(File& file);
    void Track(int mid, File* file, std::uint64_t endOffset, bool acked);

    std::string target_, clientId_;
    std::function<void(const std::string&)> say_;
    std::deque<std::unique_ptr<File>> files_;
    std::deque<InFlightRow> inflight_;
    std::uint64_t frontSeq_ = 0; // sequence number of inflight_.front()
    // Rows before this sequence number were in flight when the connection was last made: the
    // library sends them again after the connect callback, and nothing new goes out before
    // they are acknowledged, so a run reaches the broker in index order.
    std::uint64_t fenceSeq_ = 0;
    Clock::time_point frontSince_{}; // since when inflight_.front() waits for its acknowledgement
    std::unordered_map<int, std::uint64_t> seqOfMid_;
    std::uint64_t acknowledged_ = 0;
    Clock::time_point nextSync_{};
    JournalRow row_;
    std::vector<char> buffer_;
    std::string lastRun_;   // the run of the newest journal adopted
    bool heldOpen_ = false; // held rows go on in files_.back()
};

} // namespace zelvox
