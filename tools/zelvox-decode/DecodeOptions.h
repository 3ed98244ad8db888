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
    enum class Mode { Help, Stream, Port } mode = Mode::Help;
    std::string path; // "-" for standard input; the port name in Port mode
    RecordFormat format = RecordFormat::Text;
    int rate = 0; // readings per minute; 0: every accepted frame
    bool once = false;
    PublishingOptions publishing;
    AlarmOptions alarms;
    std::vector<AlarmRule> rules; // made from alarms
};

// Each returns the exit status. wakeFd becomes readable when an ending signal arrives.
int RunStream(const DecodeOptions& options, int wakeFd);
int RunPort(const DecodeOptions& options, int wakeFd);

} // namespace zelvox
