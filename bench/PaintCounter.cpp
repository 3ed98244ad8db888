#include "PaintCounter.h"

#include <QByteArray>
#include <QEvent>
#include <QHash>
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
        if (event->type() == QEvent::Paint) {
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
        const QByteArray key = Key(widget).left(kNameBytes - 1);
        Slot* slot = nullptr;
        for (int i = 0; i < kSlots && !slot; ++i) {
            if (slots_[i].name[0] == '\0') {
                std::memcpy(slots_[i].name, key.constData(), static_cast<std::size_t>(key.size()) + 1);
                slot = &slots_[i];
            } else if (key == slots_[i].name) {
                slot = &slots_[i];
            }
        }
        byWidget_.insert(widget, slot);
        connect(widget, &QObject::destroyed, this, [this, widget] { byWidget_.remove(widget); });
        return slot;
    }

    Slot* slots_;
    QHash<QWidget*, Slot*> byWidget_;
};

} // namespace

void InstallPaintCounters(QWidget* window) {
    const QByteArray path = qgetenv("ZELVOX_PAINT_COUNTS");
    if (path.isEmpty() || !window)
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
    auto* counter = new PaintCounter(static_cast<Slot*>(map), window);
    counter->Watch(window);
}

} // namespace zelvox
