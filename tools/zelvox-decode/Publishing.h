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

// The folder the logger of portName keeps its journal in: journalDir when given, else the
// service's $STATE_DIRECTORY, else one folder per port under the program's default.
std::string LoggerJournalDir(const std::string& journalDir, const std::string& portName);

// --note TEXT: a note written into the events file beside the journal the running logger of
// portName keeps (in LoggerJournalDir). Returns the exit status: 0 written, 1 the write failed,
// 2 no running logger keeps a journal there (the logger keeps one only with --mqtt).
int WriteNote(const std::string& text, const std::string& journalDir, const std::string& portName);

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
