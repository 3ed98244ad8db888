// What START reports: started, or why not. Kept apart from the acquisition so that whoever shows
// the failure needs no view of the workers.
#pragma once

#include <QString>

namespace zelvox {

enum class StartStatus { Started, PortAlreadyOpen, OpenPortFailed, ThreadFailed };

struct StartResult {
    StartStatus status = StartStatus::Started;
    QString reason;    // the system's reason for OpenPortFailed (e.g. "Permission denied")
    int errorCode = 0; // errno for OpenPortFailed
};

} // namespace zelvox
