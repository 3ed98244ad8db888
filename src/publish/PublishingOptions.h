// The command-line options of publishing to a broker, the same for the desktop program and the
// headless logger: --mqtt URL and its companions.
#pragma once

#include "publish/Publisher.h"

#include <string>
#include <vector>

namespace zelvox {

struct PublishingOptions {
    std::string url, passwordFile, caFile, certFile, keyFile, clientId, journalDir;
    std::string keepDays, keepMb; // the logger's journal retention (--keep-days, --keep-mb)
    bool discovery = false;
    bool Requested() const { return !url.empty(); }
    // True when any option but --mqtt is given (they need --mqtt).
    bool AnyCompanion() const {
        return !passwordFile.empty() || !caFile.empty() || !certFile.empty() || !keyFile.empty() ||
               !clientId.empty() || !journalDir.empty() || !keepDays.empty() || !keepMb.empty() || discovery;
    }
};

// Takes args[i] (and its value, advancing i) when it is one of these options: 1 when taken, 0
// when it is not one of them, -1 with *error for a missing value. With takeJournalDir false,
// --journal-dir is left to the caller.
int TakePublishingOption(const std::vector<std::string>& args, std::size_t& i, PublishingOptions& options,
                         std::string* error, bool takeJournalDir = true);

// The publisher's options from the command line's: the broker URL checked, the password read
// (its file, or ZELVOX_MQTT_PASSWORD), the TLS files checked, the client id made from this
// host and portName unless given (an empty portName: the desktop program without a port, one
// id per running instance). False with *error when any of it cannot work; *warning, when
// given, receives what works but should be mended (a password file others can read).
bool MakePublisherOptions(const PublishingOptions& options, const std::string& portName,
                          PublisherOptions* out, std::string* error, std::string* warning = nullptr);

} // namespace zelvox
