// The port settings dialog (PORT SET): the port list with FLASH PORT, the sampling rate slider
// and OK. There is no Cancel button; closing the dialog takes nothing.
#pragma once

#include "link/PortDiscovery.h"
#include "link/Settings.h"

#include <QDialog>
#include <QRect>

class QComboBox;
class QPushButton;
class QSlider;
class QGroupBox;
class QLabel;

namespace zelvox {

// Dialog units of the dialog's font (MS Shell Dlg 8 at 96 dpi: 6 x 13 pixel base units) to
// pixels, rounded as the dialog manager rounds: x * 6 / 4 and y * 13 / 8.
QRect DialogUnitsToPixels(int x, int y, int width, int height);

class PortSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // The list is filled from `lister` (DiscoverPorts when empty).
    explicit PortSettingsDialog(Settings& settings, QWidget* parent = nullptr, PortLister lister = {});

    // The slider's text for a rate: "Sampling Rate:   %d/Minute".
    static QString RateText(int rate);

    QComboBox* PortList() const { return portList_; }
    QPushButton* FlashButton() const { return flashButton_; }
    QSlider* RateSlider() const { return rateSlider_; }
    // The rate as the user chooses it, on the group's frame beside its title.
    QLabel* RateLabel() const { return rateLabel_; }
    // Where the slider's thumb is, in the slider's coordinates, as its style draws it.
    QRect RateThumb() const;
    QPushButton* OkButton() const { return okButton_; }

    void OnFlashPort();
    void OnOk();

    // Shown centred on its owner's window, as a message box is.
    void setVisible(bool visible) override;

private:
    void FillPortList();
    void OnRateChanged(int rate);
    // The rate in a tooltip under the slider's thumb, following it as it moves.
    void ShowRateTip();

    Settings& settings_;
    PortLister lister_;
    QComboBox* portList_ = nullptr;
    QPushButton* flashButton_ = nullptr;
    QGroupBox* samplingGroup_ = nullptr;
    QSlider* rateSlider_ = nullptr;
    QLabel* rateLabel_ = nullptr;
    QPushButton* okButton_ = nullptr;
};

// The PORT SET command. While acquisition runs (the caller asks the session) it shows "please stop com first"
// / "error" and returns false without showing the dialog. Otherwise it runs the dialog; when that ends with
// OK it stores the choice in `settings`, sets *statusText to the status bar's port text and
// returns true.
bool RunPortSetCommand(Settings& settings, QWidget* parent, bool acquisitionRuns, QString* statusText,
                       const PortLister& lister = {});

} // namespace zelvox
