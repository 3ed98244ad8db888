// Helpers for the link tests: CPU time. Waiting on the UI event loop comes from
// support/EventLoop.h.
#pragma once

#include "support/EventLoop.h"

#include <ctime>

namespace zelvox::testing {

// CPU seconds this process has used so far (all threads).
inline double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

} // namespace zelvox::testing
