// zelvox-decode's --mqtt: every line the logger writes also goes into a readings journal of its
// own, and from there to an MQTT broker through the publisher (publish/Publisher.h).
#pragma once

#include "decode/Reading.h"
#include "publish/PublishingOptions.h"
#include "record/JournalFolder.h"
#include "record/RowCodec.h"

#include <QString>
#include <chrono>

#include <cstdint>
#include <memory>
#include <string>

namespace zelvox {

class Journal;
class Publisher;

// The lines of the usage text for these options.
extern const char* const kPublishingUsage;

class DecodePublishing {
public:
    DecodePublishing();
    ~DecodePublishing(); // Stop()

    // Checks the options, opens the journal folder (by default one per port) and starts the
    // publisher, which reports its state on standard error (a broker that refuses us is tried
    // again, the logging goes on). False with *error: the command line is wrong.
    bool Start(const PublishingOptions& options, const std::string& portName, std::string* error);
    // One line written: the journal gets the row, the publisher is told.
    void Record(const DispatchedReading& dispatched);
    // Ends the journal's run cleanly and lets the publisher deliver what is in flight.
    void Stop();

private:
    static constexpr std::chrono::seconds kJournalRetry{10};
    static constexpr int kKeepDays = 30;
    static constexpr std::uint64_t kKeepBytes = 100ull * 1024 * 1024;

    // A new journal in the folder; the first one also names interrupted runs and prunes.
    bool OpenJournal(bool first, std::string* why);

    QString dir_;
    PruneRules rules_;
    bool journalOff_ = false;
    bool reopening_ = false;
    bool heldFullSaid_ = false; // the journal was turned off and a new one is being tried
    std::chrono::steady_clock::time_point retryAt_{};
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<Publisher> publisher_;
};

} // namespace zelvox
