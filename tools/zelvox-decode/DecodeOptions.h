// What zelvox-decode's command line asks for, and the two ways it decodes: a stream (a capture
// file or standard input) and a live serial port.
#pragma once

#include "alarm/AlarmOptions.h"
#include "publish/PublishingOptions.h"
#include "record/RowCodec.h"

#include <string>
#include <vector>

namespace zelvox {

struct DecodeOptions {
    enum class Mode { Help, Stream, Port, Note } mode = Mode::Help;
    std::string path; // "-" for standard input; the port name in Port mode
    RecordFormat format = RecordFormat::Text;
    int rate = 0; // readings per minute; 0: every accepted frame
    bool once = false;
    std::string note; // Mode::Note: its text
    PublishingOptions publishing;
    AlarmOptions alarms;
    std::vector<AlarmRule> rules; // made from alarms
};

// What is wrong before anything runs (exit status 2): said as the last line on standard error
// and, under systemd, as the service's status text (STATUS= on $NOTIFY_SOCKET), so that it is
// what `systemctl status` shows for the failed unit.
void SayStartFailure(const std::string& reason);

// Each returns the exit status. wakeFd becomes readable when an ending signal arrives.
int RunStream(const DecodeOptions& options, int wakeFd);
int RunPort(const DecodeOptions& options, int wakeFd);

} // namespace zelvox
