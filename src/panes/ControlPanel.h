// The control panel pane: the LCD mirror (72 segment pictures), START/STOP/RESET/EXIT and the
// MAX/MIN fields. It owns the serial acquisition and runs the dispatch on the UI thread.
#pragma once

#include "decode/Frame.h"
#include "link/Acquisition.h"

#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <string>

class QPushButton;
class QLineEdit;
class QLabel;
class QTimer;

namespace zelvox {

class PaneLinks;
class SegmentPicture;

class ControlPanel : public QWidget {
    Q_OBJECT
public:
    explicit ControlPanel(PaneLinks* links, QWidget* parent = nullptr);
    ~ControlPanel() override; // ends the acquisition before anything it uses goes

    void InitialUpdate();

    // Button handlers (ids 1009..1012).
    void OnStart();
    void OnStop();
    void OnReset();
    void OnExit();

    // The dispatch timer's tick.
    void DispatchReading();

    Acquisition& acquisition() { return *acquisition_; }
    SegmentPicture* Segment(int picture) const { return segments_[picture]; }
    const Frame& MirroredFrame() const { return mirrored_; }

private:
    void ApplyFrame(const Frame& frame); // segment mirror, UI thread, in frame order
    void ArmDispatchTimer();

    PaneLinks* links_;
    std::unique_ptr<Acquisition> acquisition_;
    std::array<SegmentPicture*, 72> segments_{};
    Frame mirrored_{};
    QTimer* dispatchTimer_ = nullptr;

    // The buttons (1009..1012), the labels (1014..1017) and the fields (1005..1008).
    void CreateButtons(int imageWidth, int imageHeight);
    void LayOutFields(int imageWidth, int imageHeight);
    void SetField(QLineEdit* field, const std::optional<std::u16string>& text);
    QLabel* background_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* resetButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QLabel* maxLabel_ = nullptr;
    QLabel* maxTimeLabel_ = nullptr;
    QLabel* minLabel_ = nullptr;
    QLabel* minTimeLabel_ = nullptr;
    QLineEdit* maxField_ = nullptr;
    QLineEdit* maxTimeField_ = nullptr;
    QLineEdit* minField_ = nullptr;
    QLineEdit* minTimeField_ = nullptr;
};

} // namespace zelvox
