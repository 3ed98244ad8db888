// A pseudo-terminal for serial tests: the test writes meter bytes into the master while the
// code under test opens the slave's path like a serial port.
#pragma once

#include "decode/Frame.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvox::testing {

class Pty {
public:
    // Opens a pty pair in raw mode and closes the slave side (the code under test opens it).
    // Check ok() before use.
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0; }
    int MasterFd() const { return master_; }
    // /dev/pts/N
    QString SlavePath() const { return slavePath_; }

    // Writes all bytes into the master. False when they cannot go (no one has the slave open,
    // or the master is closed).
    bool Write(const std::uint8_t* data, std::size_t n);
    bool Write(const std::vector<std::uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
    bool Write(const Frame& frame) { return Write(frame.data(), frame.size()); }

    // Closes the master: the slave side sees a hang-up, as when a USB adapter is pulled out.
    void CloseMaster();

private:
    int master_ = -1;
    QString slavePath_;
};

} // namespace zelvox::testing
