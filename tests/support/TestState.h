// Keeps the program's readings journal under the build tree while tests run, never in the
// user's home. A child started by a test inherits the marker and keeps whatever folder the test
// gave it.
#pragma once

#include <cstdlib>

namespace zelvox::testing {

inline void KeepStateUnderTheBuildTree() {
#ifdef ZELVOX_TEST_STATE_DIR
    if (std::getenv("ZELVOX_TEST_STATE_SET") == nullptr) {
        setenv("XDG_STATE_HOME", ZELVOX_TEST_STATE_DIR, 1);
        setenv("ZELVOX_TEST_STATE_SET", "1", 1);
    }
#endif
}

} // namespace zelvox::testing
