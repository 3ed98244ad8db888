// The window's repaint cycles follow the meter's frames while its display changes frame after
// frame: an update request that comes between two frames (a reading dispatched to the table,
// graph and gauge, a clock tick) waits for the next frame's, so that the window is painted and
// sent to the X server once per frame instead of once more for each of them. A request waits
// at most kLongestHold, and only while frames come: with none in that time it passes at once.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

namespace zelvox {

class RepaintPacer : public QObject {
public:
    static constexpr int kLongestHold = 100; // ms: longer than a frame at the meter's 12 a second

    explicit RepaintPacer(QWidget* window);

    // The display has taken a frame's changes; its repaint is asked for already.
    void FrameShown();

    // Held while a widget of the window repaints at once (QWidget::repaint): nothing waits.
    class Now {
    public:
        explicit Now(RepaintPacer& pacer) : pacer_(pacer) { ++pacer_.now_; }
        ~Now() { --pacer_.now_; }
        Now(const Now&) = delete;
        Now& operator=(const Now&) = delete;

    private:
        RepaintPacer& pacer_;
    };

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Release();

    QWidget* window_;
    QElapsedTimer sinceFrame_;
    QTimer release_;
    bool frameDue_ = false;  // the next request is the frame's own
    bool held_ = false;      // a request waits for the next frame
    bool releasing_ = false; // the request posted by Release
    int now_ = 0;
};

} // namespace zelvox
