// Repaint counts per pane, for the idle-cost benchmark, linked into the benchmarks' build of the
// program (zelvox-painted) beside its own main. Off unless ZELVOX_PAINT_COUNTS names a file; then
// every paint of a widget in the main window adds one to its pane's counter, and every repaint
// cycle of the window (one update request: its dirty widgets painted and sent to the server
// together) to "(window) repaint cycles", kept in that file (memory-mapped), so that a tool can
// read the counts while the program runs without the program waking up for it. It starts with
// the application object and watches the first main window shown: the program needs no hook.
#include <QByteArray>
#include <QCoreApplication>
#include <QEvent>
#include <QHash>
#include <QMainWindow>
#include <QObject>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace zelvox {

namespace {

// The file: kSlots records of a zero-terminated name and a 64-bit count, in order of first
// paint. A reader sees names appear and counts grow; it never needs a lock.
constexpr int kSlots = 64;
constexpr int kNameBytes = 56;
constexpr char kCycles[] = "(window) repaint cycles";
struct Slot {
    char name[kNameBytes];
    std::atomic<std::uint64_t> count;
};
static_assert(sizeof(Slot) == 64);

// The pane a widget belongs to and what it is there: "ReadingsTable/QScrollBar",
// "statusPane1", "ControlPanel/QLabel".
QByteArray Key(QWidget* widget) {
    static const char* const panes[] = {"zelvox::TrendGraph", "zelvox::ReadingsTable", "zelvox::NeedleGauge",
                                        "zelvox::ControlPanel"};
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        const char* cls = w->metaObject()->className();
        for (const char* pane : panes) {
            if (std::strcmp(cls, pane) != 0)
                continue;
            QByteArray key = QByteArray(pane + 8);
            // The widget's parent too, when it is not the pane: a view's viewport and its
            // header's viewport are both plain QWidgets.
            QWidget* parent = widget->parentWidget();
            if (w != widget && parent != w)
                key += '/' + QByteArray(parent->metaObject()->className()).replace("zelvox::", "");
            if (w != widget)
                key += '/' + QByteArray(widget->metaObject()->className()).replace("zelvox::", "");
            return key;
        }
        if (w->objectName().startsWith(QLatin1String("statusPane")))
            return w->objectName().toLatin1();
    }
    QByteArray key = widget->metaObject()->className();
    if (widget->parentWidget())
        key = QByteArray(widget->parentWidget()->metaObject()->className()) + '/' + key;
    return key;
}

class PaintCounter : public QObject {
public:
    PaintCounter(Slot* table, QObject* parent) : QObject(parent), slots_(table) {}

    void Watch(QWidget* widget) {
        widget->installEventFilter(this);
        for (QObject* child : widget->children())
            if (child->isWidgetType())
                Watch(static_cast<QWidget*>(child));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::UpdateRequest && watched == parent()) {
            cycles_->count.fetch_add(1, std::memory_order_relaxed);
        } else if (event->type() == QEvent::Paint) {
            Slot* slot = SlotOf(static_cast<QWidget*>(watched));
            if (slot)
                slot->count.fetch_add(1, std::memory_order_relaxed);
        } else if (event->type() == QEvent::ChildAdded) {
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child->isWidgetType())
                Watch(static_cast<QWidget*>(child));
        }
        return false;
    }

private:
    Slot* SlotOf(QWidget* widget) {
        auto it = byWidget_.find(widget);
        if (it != byWidget_.end())
            return *it;
        // Keys are worked out at the first paint, when the widget has its place in the tree.
        Slot* slot = Named(Key(widget).left(kNameBytes - 1));
        byWidget_.insert(widget, slot);
        connect(widget, &QObject::destroyed, this, [this, widget] { byWidget_.remove(widget); });
        return slot;
    }

    Slot* Named(const QByteArray& key) {
        Slot* slot = nullptr;
        for (int i = 0; i < kSlots && !slot; ++i) {
            if (slots_[i].name[0] == '\0') {
                std::memcpy(slots_[i].name, key.constData(), static_cast<std::size_t>(key.size()) + 1);
                slot = &slots_[i];
            } else if (key == slots_[i].name) {
                slot = &slots_[i];
            }
        }
        return slot;
    }

    Slot* slots_;
    Slot* cycles_ = Named(kCycles);
    QHash<QWidget*, Slot*> byWidget_;
};

// Waits for the main window's first show, then counts under it and stops looking.
class WindowFinder : public QObject {
public:
    WindowFinder(Slot* table, QObject* parent) : QObject(parent), slots_(table) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<QMainWindow*>(watched) &&
            static_cast<QWidget*>(watched)->isWindow()) {
            auto* window = static_cast<QWidget*>(watched);
            (new PaintCounter(slots_, window))->Watch(window);
            deleteLater();
            QCoreApplication::instance()->removeEventFilter(this);
        }
        return false;
    }

private:
    Slot* slots_;
};

void InstallPaintCounters() {
    const QByteArray path = qgetenv("ZELVOX_PAINT_COUNTS");
    if (path.isEmpty())
        return;
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return;
    const std::size_t bytes = sizeof(Slot) * kSlots;
    void* map = ::ftruncate(fd, static_cast<off_t>(bytes)) == 0
                    ? ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                    : MAP_FAILED;
    ::close(fd);
    if (map == MAP_FAILED)
        return;
    // Mapped for the life of the process; the file is zero-filled, so every slot starts empty.
    QCoreApplication* app = QCoreApplication::instance();
    app->installEventFilter(new WindowFinder(static_cast<Slot*>(map), app));
}

} // namespace

} // namespace zelvox

namespace {
void StartPaintCounters() {
    zelvox::InstallPaintCounters();
}
} // namespace

Q_COREAPP_STARTUP_FUNCTION(StartPaintCounters)
