#include "support/Child.h"

#include <QDeadlineTimer>
#include <QFile>
#include <csignal>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zelvox::testing {

Child::~Child() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        Reap(true);
    }
    CloseFds();
}

bool Child::Start(const QString& program, const QStringList& args) {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        Reap(true);
    }
    CloseFds();
    // Everything exec needs is made before the fork: the child only redirects and execs.
    std::vector<QByteArray> strings{QFile::encodeName(program)};
    for (const QString& arg : args)
        strings.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return false;
    }
    outBuf_.clear();
    errBuf_.clear();
    exitCode_ = -1;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
    if (pid_ < 0) {
        pid_ = 0;
        CloseFds();
        return false;
    }
    return true;
}

void Child::CloseFds() {
    for (int* fd : {&out_, &err_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void Child::Reap(bool block) {
    if (pid_ <= 0)
        return;
    int status = 0;
    if (::waitpid(pid_, &status, block ? 0 : WNOHANG) != pid_)
        return;
    pid_ = 0;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Child::Running() {
    Reap(false);
    return pid_ > 0;
}

void Child::WaitForOutput(int ms) {
    // The first wait may take ms; then everything already in the pipes is read.
    for (int wait = ms;; wait = 0) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (::poll(fds, 2, wait) <= 0)
            return;
        QByteArray* bufs[2] = {&outBuf_, &errBuf_};
        int* ends[2] = {&out_, &err_};
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char chunk[4096];
            const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                bufs[i]->append(chunk, n);
            } else if (n == 0) { // the child's end is closed: nothing more comes
                ::close(*ends[i]);
                *ends[i] = -1;
            }
        }
    }
}

QByteArray Child::TakeOut() {
    WaitForOutput(0);
    return std::exchange(outBuf_, {});
}

QByteArray Child::TakeErr() {
    WaitForOutput(0);
    return std::exchange(errBuf_, {});
}

bool Child::WaitForFinished(int ms) {
    QDeadlineTimer deadline(ms);
    while (Running() && !deadline.hasExpired())
        WaitForOutput(10);
    WaitForOutput(0);
    return pid_ == 0;
}

} // namespace zelvox::testing
