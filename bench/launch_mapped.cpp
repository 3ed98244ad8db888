// launch_mapped: starts a program and waits, as an X client, for the map event of its first
// top-level window; prints the time from launch to that event. No polling: the tool selects
// SubstructureNotify on the root window before it starts the program, then blocks on the X
// connection. Meant for a bare X server (Xvfb without a window manager), where top-level windows
// are mapped straight onto the root.
//
//   launch_mapped [--timeout SECONDS] -- PROGRAM [ARGS...]
//   prints: pid=<pid> window=<id> mapped_ms=<ms>      (the program keeps running)
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

int main(int argc, char** argv) {
    double timeout = 20.0;
    int first = 1;
    for (; first < argc; ++first) {
        if (std::strcmp(argv[first], "--timeout") == 0 && first + 1 < argc) {
            timeout = std::atof(argv[++first]);
        } else if (std::strcmp(argv[first], "--") == 0) {
            ++first;
            break;
        } else {
            break;
        }
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: launch_mapped [--timeout SECONDS] -- PROGRAM [ARGS...]\n");
        return 2;
    }

    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "launch_mapped: cannot connect to the X server\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_generic_error_t* error =
        xcb_request_check(x, xcb_change_window_attributes_checked(x, root, XCB_CW_EVENT_MASK, &mask));
    if (error) {
        std::fprintf(stderr, "launch_mapped: cannot watch the root window\n");
        return 1;
    }

    const auto launched = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("launch_mapped: fork");
        return 1;
    }
    if (pid == 0) {
        execvp(argv[first], argv + first);
        std::perror("launch_mapped: exec");
        _exit(127);
    }

    const int fd = xcb_get_file_descriptor(x);
    const auto deadline =
        launched + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
            if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (!map->override_redirect) {
                    const double ms =
                        std::chrono::duration<double, std::milli>(Clock::now() - launched).count();
                    std::printf("pid=%d window=%u mapped_ms=%.1f\n", static_cast<int>(pid), map->window, ms);
                    std::free(event);
                    xcb_disconnect(x);
                    return 0;
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(x))
            break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, static_cast<int>(left));
    }
    std::fprintf(stderr, "launch_mapped: no window was mapped\n");
    kill(pid, SIGTERM);
    return 1;
}
