// The serial platform layer: the few things the acquisition needs from a port, behind one small
// interface. The Linux implementation is PosixSerialPort (termios, poll and an eventfd).
#pragma once

#include <QString>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace zelvox {

// A read of n bytes ends when all n have arrived, when intervalMs pass without a byte once the
// first byte is in, or when totalConstantMs + n * totalPerByteMs have passed since it began.
// Once bytes come in, the read waits for the rest at the line's pace (2400 baud) instead of
// waking for every byte, so it may see the last byte up to one byte time after it came.
struct ReadTimeouts {
    int intervalMs = 2000;
    int totalConstantMs = 8000;
    int totalPerByteMs = 1;
};

enum class ReadStatus {
    Complete,  // all bytes asked for
    TimedOut,  // fewer bytes (maybe none) when a time-out ran out
    Cancelled, // Cancel() was called
    Failed,    // the device reported an error or hung up (an unplugged adapter)
};

struct ReadResult {
    std::size_t count = 0; // bytes placed in the buffer, whatever the status
    ReadStatus status = ReadStatus::TimedOut;
    int error = 0; // errno for Failed; 0 when the device hung up
};

// Why a port could not be opened: errno and the system's text for it.
struct PortError {
    int code = 0;
    QString reason;
};

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens portName exclusively for reading and applies 2400 baud, 8 data bits, one stop bit,
    // no parity, no flow control, DTR and RTS low; discards whatever the driver already holds.
    // On failure the port stays closed and *error (when given) says why.
    virtual bool Open(const QString& portName, PortError* error) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Reads up to n bytes under the time-out rules above. Only one thread reads at a time, and
    // Open/Close are never called while a read is in progress.
    virtual ReadResult Read(std::uint8_t* buffer, std::size_t n) = 0;

    // Ends a read in progress at once and makes every later read return Cancelled until the
    // next Open or ClearCancel. Callable from any thread and from a signal handler.
    virtual void Cancel() = 0;
    virtual void ClearCancel() = 0;

    virtual void SetTimeouts(const ReadTimeouts& timeouts) = 0;

    // The next read takes no bytes from the line until `pause` has passed (it waits, as
    // cancellable as ever); the time-outs run from the start of the read as usual.
    virtual void HoldOff(std::chrono::milliseconds pause) = 0;
};

// The device path of a port name: an absolute path as it is, any other name under /dev
// ("ttyUSB0" -> "/dev/ttyUSB0").
QString PortDevicePath(const QString& portName);

// The platform's implementation.
std::unique_ptr<SerialPort> CreateSerialPort();

} // namespace zelvox
