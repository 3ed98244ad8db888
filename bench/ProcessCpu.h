// CPU time of the whole process so far (all threads, user and system), for the benchmarks that
// print a share of one core.
#pragma once

#include <ctime>

namespace zelvox::bench {

inline double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

} // namespace zelvox::bench
