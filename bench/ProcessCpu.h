// CPU time of the whole process so far (all threads, user and system), for the benchmarks that
// print a share of one core, and its resident memory.
#pragma once

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

namespace zelvox::bench {

inline double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The process's resident memory now (VmRSS), in MiB.
inline double ResidentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

} // namespace zelvox::bench
