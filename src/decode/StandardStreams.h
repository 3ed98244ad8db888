// Descriptors 0, 1 and 2 of a program started with one of them closed: the first file the
// program opens would take that number and be read or written as standard input or output.
#pragma once

namespace zelvox {

// Which of the standard streams were closed at start-up (and are now /dev/null).
struct ClosedStreams {
    bool input = false, output = false, error = false;
    bool Any() const { return input || output || error; }
};

// Opens /dev/null onto each of 0, 1 and 2 that is closed, so that no descriptor the program
// opens later becomes one of them. Call first thing in main.
ClosedStreams OpenStandardStreams();

} // namespace zelvox
