// repaint_floor: what the machine charges for the least a live display can do. A bare Qt window
// as large as the program's, a worker thread that wakes once per meter frame (12 a second, as a
// 2400-baud line delivers 20-byte frames) and hands the frame over through an eventfd, and a UI
// thread that repaints one rectangle the size of a changed LCD picture on each. The idle-cost
// benchmark samples it like the program: the difference is what the program adds.
//
//   repaint_floor [--width W --height H] [--hz N]      (defaults 212 x 119, 12 frames a second)
#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {

class FloorWindow : public QWidget {
public:
    QRect area;
    int frame = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        painter.fillRect(event->rect(), Qt::black);
        painter.fillRect(area.adjusted(frame % 7, frame % 5, -(frame % 3), 0) & event->rect(),
                         QColor(0, 255, 0));
    }
};

} // namespace

int main(int argc, char** argv) {
    int w = 212, h = 119, hz = 12;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--width") == 0)
            w = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--height") == 0)
            h = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--hz") == 0)
            hz = std::max(1, std::atoi(argv[i + 1]));
    }
    QApplication app(argc, argv);
    FloorWindow window;
    window.setAttribute(Qt::WA_OpaquePaintEvent);
    window.resize(922, 537);
    window.area = QRect(500, 300, w, h);
    window.show();

    const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    QSocketNotifier notifier(wake, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        std::uint64_t n = 0;
        if (::read(wake, &n, sizeof n) == sizeof n) {
            ++window.frame;
            window.update(window.area);
        }
    });
    std::atomic<bool> quit{false};
    std::thread frames([&] {
        const auto period = std::chrono::microseconds(1'000'000 / hz);
        auto next = std::chrono::steady_clock::now();
        while (!quit.load()) {
            next += period;
            std::this_thread::sleep_until(next);
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
        }
    });
    const int status = app.exec();
    quit.store(true);
    frames.join();
    ::close(wake);
    return status;
}
