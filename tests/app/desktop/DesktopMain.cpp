// GoogleTest entry point for the tests of the assembled window on a desktop. Each run starts its
// own X server (Xvfb, on a display number the server picks itself) with the screen given by
// --screen=WIDTHxHEIGHT and the openbox window manager, waits until the manager answers
// requests, runs the cases there on the xcb platform and ends both servers.
#include "support/TestState.h"
#include <QApplication>
#include <QByteArray>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

// Starts a program with its output discarded. keepFd stays open in it; it dies with this process.
pid_t Spawn(const std::vector<std::string>& argv, int keepFd = -1) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    for (int fd = 3; fd < 256; ++fd)
        if (fd != keepFd)
            close(fd);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

// Asks the program to end, and makes it end after two seconds.
void End(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int round = 0; round < 200; ++round) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Xvfb writes the display number it took to the given descriptor once it accepts clients.
std::string StartXvfb(const std::string& screen, pid_t* pid) {
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    *pid = Spawn(
        {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen + "x24", "-nolisten", "tcp"},
        fds[1]);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    return number.empty() ? std::string() : ":" + number;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return atom;
}

// The window manager is ready once it answers a frame-extents request for a window of ours.
bool WaitForWindowManager(const std::string& display) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t probe = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_client_message_event_t ask{};
    ask.response_type = XCB_CLIENT_MESSAGE;
    ask.format = 32;
    ask.window = probe;
    ask.type = Atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_atom_t extents = Atom(c, "_NET_FRAME_EXTENTS");
    bool ready = false;
    for (int round = 0; round < 200 && !ready; ++round) {
        xcb_send_event(c, 0, screen->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&ask));
        xcb_flush(c);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, probe, extents, XCB_ATOM_CARDINAL, 0, 4),
                                         nullptr);
        ready = r && xcb_get_property_value_length(r) == 16;
        std::free(r);
    }
    xcb_destroy_window(c, probe);
    xcb_disconnect(c);
    return ready;
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the cases (CTest's discovery) needs no display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    zelvox::testing::KeepStateUnderTheBuildTree();
    std::string screen = "1024x768";
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--screen=", 9) == 0)
            screen = argv[i] + 9;

    pid_t xvfb = 0, openbox = 0;
    const std::string display = StartXvfb(screen, &xvfb);
    if (display.empty()) {
        std::fprintf(stderr, "Xvfb did not start (is it installed?)\n");
        End(xvfb);
        return 1;
    }
    setenv("DISPLAY", display.c_str(), 1);
    openbox = Spawn({"openbox", "--sm-disable"});
    if (!WaitForWindowManager(display)) {
        std::fprintf(stderr, "openbox did not start on %s (is it installed?)\n", display.c_str());
        End(openbox);
        End(xvfb);
        return 1;
    }

    int result = 1;
    {
        qputenv("QT_QPA_PLATFORM", "xcb");
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        result = RUN_ALL_TESTS();
    }
    End(openbox);
    End(xvfb);
    return result;
}
