// The Run View's plot: the lanes of a run on one time axis, drawn from the envelopes its index
// hands over (never reading by reading), with the time ticks below, two cursors, a hover
// readout, and the navigation: wheel zoom around the pointer, drag to pan, rubber-band zoom
// (right button, or Ctrl with the left), keys (+, -, arrows, Home, End).
#pragma once

#include "runview/Envelope.h"
#include "runview/ParallelRuns.h"
#include "runview/RunIndex.h"
#include "runview/RunOverlay.h"

#include <QWidget>
#include <functional>
#include <optional>
#include <utility>

class QPainter;

namespace zelvox {

class RunPlot : public QWidget {
    Q_OBJECT
public:
    explicit RunPlot(const RunIndex& index, QWidget* parent = nullptr);

    // Several sources on one time axis (the plot's own index first among them) and their
    // derived lanes: every lane of runs is drawn, hovered and summed. Null: the index alone.
    void SetParallel(const ParallelRuns* runs);
    // The lanes drawn, top to bottom.
    std::vector<ShownLane> Shown() const;
    // The sources shown (one without SetParallel) and the run of each: the plot's own index for
    // source 0, and for anything that is not a source (a derived lane's -1).
    std::size_t SourceCount() const { return parallel_ ? parallel_->SourceCount() : 1; }
    const RunIndex& SourceIndex(int source) const;
    // Lays lane b over lane a on an axis of time since their starts (the view and the cursors
    // on a's clock), or ends the overlay (nullopt).
    struct Overlay {
        ShownLane a, b;
        RunOverlay align;
    };
    void SetOverlay(std::optional<Overlay> overlay);
    const std::optional<Overlay>& CurrentOverlay() const { return overlay_; }
    // The index grew (live, or a file read further): follows, or fits, as the user left it.
    void DataGrew();

    void FitAll();
    void SetFollowLive(bool on);
    bool FollowLive() const { return follow_; }
    // Fixes each lane's value range as now shown, or lets it fit the visible span again.
    void SetValueAxisFixed(bool fixed);
    void ClearCursors();
    // The view: its first instant and milliseconds per pixel column.
    TimeScale View() const { return view_; }
    void SetView(double startMs, double msPerColumn);
    // Zooms to the instants [fromMs, toMs].
    void ShowSpan(double fromMs, double toMs);
    // The cursors' instants (each may be absent); SetCursor places one.
    std::optional<std::int64_t> Cursor(int which) const { return cursors_[which]; }
    void SetCursor(int which, std::int64_t ms);
    // The span the statistics are of: between the cursors, else the visible one.
    std::pair<std::int64_t, std::int64_t> StatisticsSpan() const;
    // The plot area within the widget.
    QRect PlotRect() const;
    // Draws the picture on any paint device (the window, an image, SVG, a printer). With dirty
    // set, only what lies in it is drawn again, on the value ranges of the last whole picture.
    void Render(QPainter& p, const QRect& area, const QRect& dirty = QRect()) const;
    // A live run: the whole-run view keeps room for what comes next.
    void SetLive(bool live) { live_ = live; }
    bool Live() const { return live_; }
    // What the keys go to: the statistics span's maximum and minimum (M, N) in the lane under
    // the pointer, the next overload (O) and the next gap in time or Index (G) after the view's
    // middle; the next alarm event or note (E, Shift+E the one before) is GoToEvent's.
    enum class Target { kMaximum, kMinimum, kOverload, kGap, kAlarmEvent };
    std::optional<std::int64_t> Find(Target target) const;
    // To the nearest event of any source after the view's middle, or before it.
    void GoToEvent(bool next);
    // Puts event e of a source's run in the middle of the view and names it in the hover readout.
    void ShowEvent(int source, std::size_t e);
    QString DescribeEvent(int source, std::size_t e) const;
    // Puts reading i in the middle of the view and names it in the hover readout.
    void CentreOn(std::int64_t i);
    void GoTo(Target target);
    // The reading the plot draws at a point: the one of its column nearest the point's height.
    std::optional<std::int64_t> ReadingAt(const QPoint& at) const;
    // Reading i as the hover readout names it.
    QString Describe(std::int64_t i) const;
    // The lane (of Shown) and the reading in its store that the plot draws at a point.
    std::optional<std::pair<std::size_t, std::int64_t>> LaneReadingAt(const QPoint& at) const;
    QString DescribeLane(const ShownLane& lane, std::int64_t at) const;
    // Milliseconds the last frame took to draw.
    double LastFrameMs() const { return lastFrameMs_; }

signals:
    void viewChanged();
    void cursorsChanged();
    void followChanged(bool on);
    // The reading under the pointer (see ReadingAt), as a line of text; empty when none.
    void hoverChanged(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Range {
        double low = 0, high = 1;
    };
    enum class Drag { kNone, kPan, kBand, kCursor };

    void ZoomAround(double x, double factor);
    void PanBy(double columns);
    void UserMoved(); // the user took the view: no more following or fitting
    void ScrollToEnd();
    void FitAllWithRoom(double room);
    // Repaints only the columns a new reading touches when it changes no range.
    void UpdateNewest();
    std::pair<double, double> RunSpan() const;
    std::vector<bool> LanesWithValues() const;
    std::vector<QRect> LaneRects(const QRect& plot) const;
    Range LaneRange(std::size_t lane, const std::vector<EnvelopeColumn>& columns) const;
    int CursorNear(int x) const;
    // The instant a cursor placed at pixel x takes: a grid line or a reading close by, if any.
    std::int64_t SnapMs(int x) const;
    void Hover(const QPoint& at);
    // The firing spans on a lane, under its trace; the notes as flags on the time axis.
    void DrawBands(QPainter& p, const ShownLane& lane, const QRect& rect, const TimeScale& scale) const;
    void DrawNotes(QPainter& p, const QRect& plot, const TimeScale& scale, const RunIndex& index) const;

    // A lane's frame and its value grid over range (none when low > high), y the pixel row of a
    // value; with labels, each line's value left of the lane.
    static void DrawValueGrid(QPainter& p, const QRect& lane, Range range,
                              const std::function<double(double)>& y, const QString& unit, bool labels);
    void RenderOverlay(QPainter& p, const QRect& area) const;
    QString DescribeOverlay(const QPoint& at) const;
    QString DescribeIn(const RunIndex& index, std::int64_t i) const;
    static QString DescribeEventOf(const RunEvents& events, std::size_t e);
    // The extreme of the statistics span in the lane under the pointer: its lane and reading.
    std::optional<std::pair<std::size_t, std::int64_t>> FindExtreme(bool high) const;
    // The next overload, gap or event of one source's run after the view's middle (a reading of it).
    std::optional<std::int64_t> FindIn(const RunIndex& index, Target target) const;
    // An event of one run after the view's middle, or before it.
    std::optional<std::size_t> FindEventIn(const RunEvents& events, bool next) const;
    // Centres the view on an instant and names what is there in the hover readout.
    void CentreOnMs(std::int64_t ms, const QString& description);
    // A source's name before a text, when several are shown.
    QString Named(int source, const QString& text) const;
    // Marks on the time axis: readings whose clock went back, and Index gaps within a run.
    void MarkSetBacksAndGaps(QPainter& p, const QRect& plot, const TimeScale& scale,
                             const RunIndex& index) const;

    const RunIndex& index_;
    const ParallelRuns* parallel_ = nullptr;
    std::optional<Overlay> overlay_;
    TimeScale view_;
    bool follow_ = true;
    bool fitAll_ = true;
    bool valueFixed_ = false;
    bool live_ = false;
    mutable std::vector<Range> shownRanges_;
    mutable std::vector<Range> shownExtents_; // the readings' own min and max of each lane
    mutable std::int64_t shownSize_ = 0;      // readings in the index at the last whole picture
    std::vector<Range> fixedRanges_;
    std::optional<std::int64_t> cursors_[2];
    Drag drag_ = Drag::kNone;
    int dragCursor_ = 0;
    QPoint pressAt_, bandTo_;
    TimeScale pressView_;
    double lastFrameMs_ = 0;
};

} // namespace zelvox
