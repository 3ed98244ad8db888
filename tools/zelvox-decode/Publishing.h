// zelvox-decode's --mqtt: every line the logger writes also goes into a readings journal of its
// own, and from there to an MQTT broker through the publisher (publish/Publisher.h); both are
// handed to the logger's record keeper (journal/RecordKeeper.h), which gives them each record.
#pragma once

#include "publish/PublishingOptions.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zelvox {

class Journal;
class Publisher;
class RecordKeeper;
struct PublisherOptions;

// The lines of the usage text for these options.
extern const char* const kPublishingUsage;

class DecodePublishing {
public:
    DecodePublishing();
    ~DecodePublishing(); // Stop()

    // Checks the options, opens the journal folder (by default one per port), starts the
    // publisher, which reports its state on standard error (a broker that refuses us is tried
    // again, the logging goes on), and gives both to the keeper. False with *error: the command
    // line is wrong.
    bool Start(const PublishingOptions& options, const std::string& portName, RecordKeeper& keeper,
               std::string* error);
    // Ends the journal's run cleanly and lets the publisher deliver what is in flight.
    void Stop();
    // After a successful Start: the journal, the publisher and its options.
    Journal* JournalKept() const { return journal_.get(); }
    Publisher* Sender() const { return publisher_.get(); }
    const PublisherOptions& Options() const { return *options_; }

private:
    // The broker's outbox beside the log: kept as long as the log, and bounded.
    static constexpr int kKeepDays = 30;
    static constexpr std::uint64_t kKeepBytes = 100ull * 1024 * 1024;

    std::unique_ptr<Journal> journal_;
    std::unique_ptr<Publisher> publisher_;
    std::unique_ptr<PublisherOptions> options_;
};

} // namespace zelvox
