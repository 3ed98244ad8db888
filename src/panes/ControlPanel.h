// The control panel pane: the LCD mirror (72 segment pictures), START/STOP/RESET/EXIT and the
// MAX/MIN fields. It shows what the meter session reports and asks the session to START, STOP
// and RESET.
#pragma once

#include "decode/Decoder.h"
#include "decode/Statistics.h"
#include "panes/SegmentLayout.h"

#include <QWidget>
#include <array>
#include <optional>
#include <string>
#include <vector>

class QPushButton;
class QLineEdit;
class QLabel;

namespace zelvox {

class MeterSession;
class SegmentPicture;

class ControlPanel : public QWidget {
    Q_OBJECT
public:
    // `wide`: the MAX/MIN fields stand in two columns beside the display (a screen wider than
    // 800), otherwise in rows below it.
    ControlPanel(MeterSession* session, bool wide, QWidget* parent = nullptr);
    ~ControlPanel() override;

    void InitialUpdate();

    // The buttons START, STOP, RESET and EXIT (kStartButton..kExitButton): START shows the
    // session's failure in a message box owned by this pane.
    void OnStart();
    void OnStop();
    void OnReset();
    void OnExit();

    // What the session reports: the run began (display dark, START off, STOP on) or ended;
    // segment pictures to light or darken; MAX/MIN texts that changed.
    void ShowStarted();
    void ShowStopped();
    void ApplySegmentChanges(const std::vector<SegmentChange>& changes);
    void ShowMaxMin(const MaxMinTexts& texts);

    SegmentPicture* Segment(int picture) const { return segments_[picture]; }

signals:
    // EXIT: the main window closes (and the session ends the acquisition as it goes).
    void exitRequested();

private:
    MeterSession* session_;
    bool wide_;
    std::array<SegmentPicture*, kSegmentCount> segments_{};

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
