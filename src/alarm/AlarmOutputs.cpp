#include "alarm/AlarmOutputs.h"

#include "record/ReadingRecord.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zelvox {

std::string AlarmLine(std::string_view program, const AlarmRule& rule, const AlarmEvent& e) {
    std::string line(program);
    line += ": alarm ";
    line += rule.name;
    line += ' ';
    line += AlarmStateText(e.firing);
    if (e.hasReading) {
        line += ": ";
        line += AlarmValueText(e);
        if (const std::string unit = AlarmUnitText(e); !unit.empty()) {
            line += ' ';
            line += unit;
        }
    }
    line += " at ";
    line += FormatIsoDateTime(e.at);
    line += '\n';
    return line;
}

EventRow AlarmEventRow(const AlarmRule& rule, const AlarmEvent& e) {
    return {e.at, e.index, rule.name, e.firing, AlarmValueText(e), AlarmUnitText(e)};
}

std::vector<std::string> AlarmEnvironment(const AlarmRule& rule, const AlarmEvent& e, std::string_view port) {
    const bool value = e.hasReading && !IsOverload(e.reading.value);
    return {"ZELVOX_ALARM=" + rule.name,
            "ZELVOX_ALARM_STATE=" + std::string(AlarmStateText(e.firing)),
            "ZELVOX_ALARM_VALUE=" + (value ? AlarmValueText(e) : std::string()),
            "ZELVOX_ALARM_UNIT=" + AlarmUnitText(e),
            "ZELVOX_ALARM_TIME=" + FormatIsoDateTime(e.at),
            "ZELVOX_ALARM_RULE=" + rule.text,
            "ZELVOX_PORT=" + std::string(port)};
}

AlarmCommand::AlarmCommand(std::string command, std::string port, Failure onFailure,
                           std::chrono::milliseconds timeout)
    : command_(std::move(command)), port_(std::move(port)), onFailure_(std::move(onFailure)),
      timeout_(timeout) {
    for (char** v = environ; v && *v; ++v) {
        const std::string_view entry(*v);
        if (!entry.starts_with("ZELVOX_ALARM") && !entry.starts_with("ZELVOX_PORT="))
            inherited_.emplace_back(entry);
    }
}

AlarmCommand::~AlarmCommand() {
    Stop();
}

void AlarmCommand::Start() {
    if (worker_.joinable())
        return;
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    worker_ = std::thread([this] {
        ::pthread_setname_np(::pthread_self(), "zelvox-alarmcmd");
        Body();
    });
}

void AlarmCommand::Say(const std::string& text) {
    if (onFailure_)
        onFailure_(text);
}

void AlarmCommand::Run(const AlarmRule& rule, const AlarmEvent& e) {
    Job job{rule.name + " " + std::string(AlarmStateText(e.firing)), AlarmEnvironment(rule, e, port_)};
    bool ending = false;
    {
        std::lock_guard lock(mutex_);
        ending = stopping_;
        if (!ending && queue_.size() < kQueued) {
            queue_.push_back(std::move(job));
            wake_.notify_one();
            return;
        }
    }
    Say("alarm command for " + job.what + " dropped: " +
        (ending ? std::string("the program is ending") : std::to_string(kQueued) + " commands are waiting"));
}

void AlarmCommand::Stop(std::chrono::milliseconds grace) {
    if (!worker_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        if (!stopping_) {
            stopping_ = true;
            stopBy_ = std::chrono::steady_clock::now() + grace;
        }
        wake_.notify_one();
    }
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
    worker_.join();
    ::close(wakeFd_);
    wakeFd_ = -1;
}

void AlarmCommand::Body() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        if (stopping_ && std::chrono::steady_clock::now() >= stopBy_) {
            const std::size_t dropped = queue_.size();
            queue_.clear();
            lock.unlock();
            Say("alarm commands not run, the program is ending: " + std::to_string(dropped));
            return;
        }
        Job job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        Execute(job);
        lock.lock();
    }
}

void AlarmCommand::Execute(Job& job) {
    using Clock = std::chrono::steady_clock;
    // Everything the child needs is made before fork: after it, only async-signal-safe calls.
    std::vector<std::string> env = inherited_;
    env.insert(env.end(), job.environment.begin(), job.environment.end());
    std::vector<char*> envp;
    for (std::string& v : env)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    char sh[] = "sh", dashC[] = "-c";
    std::string command = command_;
    char* argv[] = {sh, dashC, command.data(), nullptr};
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    sigset_t none;
    sigemptyset(&none);

    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        if (devNull >= 0)
            ::close(devNull);
        Say("alarm command for " + job.what + " could not start: " + std::strerror(error));
        return;
    }
    if (pid == 0) {
        ::setpgid(0, 0); // its own process group, so that a time-out ends whatever it started
        ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &dfl, nullptr);
        if (devNull >= 0)
            ::dup2(devNull, 0);
        ::dup2(2, 1); // the logger's standard output is its record: nothing else may go there
        ::syscall(SYS_close_range, 3u, ~0u, 0u);
        ::execve("/bin/sh", argv, envp.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    if (devNull >= 0)
        ::close(devNull);
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    const Clock::time_point killBy = Clock::now() + timeout_;
    int status = 0;
    std::string ended;
    for (;;) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            break;
        Clock::time_point until = killBy;
        {
            std::lock_guard lock(mutex_);
            if (stopping_ && stopBy_ < until)
                until = stopBy_;
        }
        const auto now = Clock::now();
        if (now >= until) {
            ended = until == killBy
                        ? "ran for " + std::to_string(timeout_.count() / 1000) + " s and was killed"
                        : "was stopped: the program is ending";
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        // Without a pidfd (an old kernel) the wait is a short poll of waitpid.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {pidFd, POLLIN, 0}};
        ::poll(fds, pidFd >= 0 ? 2 : 1, static_cast<int>(pidFd >= 0 ? left : std::min<long>(left, 20)));
        std::uint64_t count;
        (void)!::read(wakeFd_, &count, sizeof count);
    }
    if (pidFd >= 0)
        ::close(pidFd);
    if (ended.empty() && WIFEXITED(status) && WEXITSTATUS(status) != 0)
        ended = "ended with status " + std::to_string(WEXITSTATUS(status));
    else if (ended.empty() && WIFSIGNALED(status))
        ended = "ended by signal " + std::to_string(WTERMSIG(status));
    if (!ended.empty())
        Say("alarm command for " + job.what + " " + ended);
}

} // namespace zelvox
