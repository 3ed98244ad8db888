// What an alarm event becomes on its way out: the logger's line on standard error, the events
// file's row, the command's environment, and the command runner (--alarm-exec CMD).
#pragma once

#include "alarm/AlarmEngine.h"
#include "record/RowCodec.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zelvox {

// "zelvox-decode: alarm high firing: 4.500 V at 2026-12-10T03:12:07.415+01:00" and a line feed;
// without a reading "zelvox-decode: alarm quiet firing at ...".
std::string AlarmLine(std::string_view program, const AlarmRule& rule, const AlarmEvent& e);

// The event as a row of the events file.
EventRow AlarmEventRow(const AlarmRule& rule, const AlarmEvent& e);

// The variables the command is given, NAME=VALUE: ZELVOX_ALARM (the rule's name),
// ZELVOX_ALARM_STATE (firing or ok), ZELVOX_ALARM_VALUE (the table's Value text, empty for an
// overload or without a reading), ZELVOX_ALARM_UNIT, ZELVOX_ALARM_TIME (ISO 8601 with
// milliseconds and offset), ZELVOX_ALARM_RULE (the rule's text) and ZELVOX_PORT.
std::vector<std::string> AlarmEnvironment(const AlarmRule& rule, const AlarmEvent& e, std::string_view port);

// Runs a command through /bin/sh -c for each event, one at a time on a worker thread of its own
// (zelvox-alarmcmd), in the order of the events, with the program's environment and the
// variables above; both its outputs go to the program's standard error (standard output is
// the logger's record), its input is /dev/null. The
// caller never waits: Run queues (up to kQueued waiting; more are dropped and said). A command
// still running after the time-out is killed with its process group. What went wrong (it could
// not start, ended with a status other than 0 or by a signal, was killed, dropped) is said
// through onFailure, on the worker thread.
class AlarmCommand {
public:
    using Failure = std::function<void(const std::string&)>;
    static constexpr std::size_t kQueued = 64;

    AlarmCommand(std::string command, std::string port, Failure onFailure,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30));
    ~AlarmCommand(); // Stop()
    AlarmCommand(const AlarmCommand&) = delete;
    AlarmCommand& operator=(const AlarmCommand&) = delete;

    void Start();
    // Queues the command for e. Any thread.
    void Run(const AlarmRule& rule, const AlarmEvent& e);
    // Lets what is queued run until grace has passed (a clean end's last events), then kills the
    // command still running, drops the rest and joins the worker. Later calls do nothing.
    void Stop(std::chrono::milliseconds grace = std::chrono::seconds(2));

private:
    struct Job {
        std::string what; // "high firing", for the messages
        std::vector<std::string> environment;
    };
    void Body();
    void Execute(Job& job);
    void Say(const std::string& text);

    const std::string command_, port_;
    const Failure onFailure_;
    const std::chrono::milliseconds timeout_;
    std::vector<std::string> inherited_; // the program's environment, without our variables
    int wakeFd_ = -1;                    // an eventfd that cuts the wait for a command short
    std::thread worker_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point stopBy_{};
};

} // namespace zelvox
