#include "LineWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zelvox {

int OutputFailed(const LineWriter& out) {
    if (out.error() == EPIPE)
        return 0;
    std::fprintf(stderr, "zelvox-decode: cannot write output: %s\n", std::strerror(out.error()));
    return out.WroteAny() ? 1 : 2;
}

} // namespace zelvox
