// What a running link says about itself. Kept apart from the acquisition so that whoever tells
// the user needs no view of the workers.
#pragma once

namespace zelvox {

enum class LinkEvent {
    Silent, // no frame accepted for Acquisition::kSilenceLimit (the run goes on)
    Heard,  // the first frame accepted after Silent
    Lost,   // a read failed: the port is closed and reopened every kReopenEvery until it is back
    Back,   // the port is open again after Lost or Absent; the run carries on where it was
    Absent, // the port was not there at START: it is tried every kReopenEvery until it is (Back)
};

} // namespace zelvox
