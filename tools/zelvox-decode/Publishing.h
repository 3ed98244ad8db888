// zelvox-decode's --mqtt: every line the logger writes also goes into a readings journal of its
// own, and from there to an MQTT broker through the publisher (publish/Publisher.h).
#pragma once

#include "decode/Reading.h"
#include "record/ReadingRecord.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace zelvox {

class Journal;
class Publisher;

struct PublishingOptions {
    std::string url, passwordFile, caFile, certFile, keyFile, clientId, journalDir;
    bool discovery = false;
    bool Requested() const { return !url.empty(); }
    // True when any option but --mqtt is given (they need --mqtt).
    bool AnyCompanion() const {
        return !passwordFile.empty() || !caFile.empty() || !certFile.empty() || !keyFile.empty() ||
               !clientId.empty() || !journalDir.empty() || discovery;
    }
};

// The lines of the usage text for these options.
extern const char* const kPublishingUsage;

// Takes argv[i] (and its value, advancing i) when it is one of these options: 1 when taken, 0
// when it is not one of them, -1 with *error for a missing value.
int TakePublishingOption(int argc, char** argv, int& i, PublishingOptions& options, std::string* error);

class DecodePublishing {
public:
    DecodePublishing();
    ~DecodePublishing(); // Stop()

    // Checks the options, opens the journal folder (by default one per port) and starts the
    // publisher, which reports its state on standard error. onFatal runs (on another thread)
    // when the broker refuses the credentials. False with *error: the command line is wrong.
    bool Start(const PublishingOptions& options, const std::string& portName, std::function<void()> onFatal,
               std::string* error);
    // One line written: the journal gets the row, the publisher is told.
    void Record(const DispatchedReading& dispatched);
    // Ends the journal's run cleanly and lets the publisher deliver what is in flight.
    void Stop();
    // Why the broker refused us; empty when it did not.
    std::string Refusal() const;

private:
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<Publisher> publisher_;
    mutable std::mutex mutex_;
    std::string refusal_;
};

} // namespace zelvox
