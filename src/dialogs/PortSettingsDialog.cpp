#include "dialogs/PortSettingsDialog.h"

#include "dialogs/LinkMessages.h"
#include "res/ControlIds.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

namespace zelvox {

namespace {

// Horizontal and vertical base units of the dialog font, in pixels.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

// The dialog's client area in dialog units (the controls' extent plus a 7-unit margin).
constexpr int kDialogWidth = 314;
constexpr int kDialogHeight = 72;

// Control layout in dialog units: id, x, y, width, height.
struct ControlPlace {
    int id;
    int x, y, width, height;
};
constexpr int kNoId = -1;
constexpr ControlPlace kPortListPlace{kPortList, 10, 11, 108, 15};
constexpr ControlPlace kFlashPlace{kFlashButton, 128, 10, 62, 16};
constexpr ControlPlace kGroupPlace{kNoId, 11, 31, 234, 34};
constexpr ControlPlace kSliderPlace{kRateSlider, 17, 44, 218, 14};
constexpr ControlPlace kOkPlace{kDialogOk, 257, 38, 50, 14};

// The rate's label: padding around its text, and its distance from the group's right edge.
constexpr int kRateLabelPadding = 6;
constexpr int kRateLabelInset = 8;

constexpr int kMinRate = 1;
constexpr int kMaxRate = kMaxSamplingRate;
constexpr std::uint16_t kNoSelection = 65535; // the list's -1 in an unsigned 16-bit setting

// a * b / c rounded half away from zero, as MulDiv does.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

void Place(QWidget* widget, const ControlPlace& place) {
    widget->setGeometry(DialogUnitsToPixels(place.x, place.y, place.width, place.height));
    if (place.id != kNoId)
        widget->setObjectName(ControlName(place.id));
}

} // namespace

QRect DialogUnitsToPixels(int x, int y, int width, int height) {
    return QRect(MulDiv(x, kBaseUnitX, 4), MulDiv(y, kBaseUnitY, 8), MulDiv(width, kBaseUnitX, 4),
                 MulDiv(height, kBaseUnitY, 8));
}

QString PortSettingsDialog::RateText(int rate) {
    return QStringLiteral("Sampling Rate:   %1/Minute").arg(rate);
}

PortSettingsDialog::PortSettingsDialog(Settings& settings, QWidget* parent, PortLister lister)
    : QDialog(parent), settings_(settings), lister_(std::move(lister)) {
    setWindowTitle(QStringLiteral("Dialog"));
    setModal(true);
    setFixedSize(DialogUnitsToPixels(0, 0, kDialogWidth, kDialogHeight).size());

    portList_ = new QComboBox(this);
    Place(portList_, kPortListPlace);
    portList_->setInsertPolicy(QComboBox::InsertAtBottom);

    flashButton_ = new QPushButton(QStringLiteral("FLASH PORT"), this);
    Place(flashButton_, kFlashPlace);
    flashButton_->setAutoDefault(false);

    // The group box comes before the slider so that the slider lies on top of it.
    samplingGroup_ = new QGroupBox(QStringLiteral("Data sampling"), this);
    Place(samplingGroup_, kGroupPlace);

    rateSlider_ = new QSlider(Qt::Horizontal, this);
    Place(rateSlider_, kSliderPlace);
    rateSlider_->setTickPosition(QSlider::NoTicks);
    rateSlider_->setRange(kMinRate, kMaxRate);
    rateSlider_->setValue(settings_.samplingRate);

    // The rate shown on the group's top edge, right-aligned, over the frame line as the title
    // is; wide enough for the widest rate.
    rateLabel_ = new QLabel(this);
    rateLabel_->setObjectName(QStringLiteral("rateText"));
    rateLabel_->setAutoFillBackground(true);
    rateLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const QRect group = samplingGroup_->geometry();
    const QFontMetrics metrics(rateLabel_->font());
    const int labelWidth = metrics.horizontalAdvance(RateText(kMaxRate)) + kRateLabelPadding;
    rateLabel_->setGeometry(group.right() - kRateLabelInset - labelWidth + 1, group.top(), labelWidth,
                            metrics.height());
    OnRateChanged(rateSlider_->value());

    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    Place(okButton_, kOkPlace);
    okButton_->setDefault(true);

    connect(rateSlider_, &QSlider::valueChanged, this, &PortSettingsDialog::OnRateChanged);
    connect(rateSlider_, &QSlider::sliderPressed, this, &PortSettingsDialog::ShowRateTip);
    connect(flashButton_, &QPushButton::clicked, this, &PortSettingsDialog::OnFlashPort);
    connect(okButton_, &QPushButton::clicked, this, &PortSettingsDialog::OnOk);

    FillPortList();
    if (portList_->count() > 0 && settings_.portIndex < portList_->count())
        portList_->setCurrentIndex(settings_.portIndex);
}

void PortSettingsDialog::FillPortList() {
    portList_->clear();
    portList_->addItems(lister_ ? lister_() : DiscoverPorts());
    // Filling selects the first entry by itself; the list starts without a selection.
    portList_->setCurrentIndex(-1);
}

// The slider keeps its text as its window title (which a slider does not draw); the user sees
// it beside the group's title, in the slider's tooltip, and under the thumb while it moves.
void PortSettingsDialog::OnRateChanged(int rate) {
    const QString text = RateText(rate);
    rateSlider_->setWindowTitle(text);
    rateSlider_->setAccessibleName(text);
    rateSlider_->setToolTip(text);
    rateLabel_->setText(text);
    if (isVisible())
        ShowRateTip();
}

QRect PortSettingsDialog::RateThumb() const {
    // The option QSlider gives its style when it paints.
    QStyleOptionSlider option;
    option.initFrom(rateSlider_);
    option.orientation = rateSlider_->orientation();
    option.minimum = rateSlider_->minimum();
    option.maximum = rateSlider_->maximum();
    option.sliderPosition = rateSlider_->sliderPosition();
    option.sliderValue = rateSlider_->value();
    option.singleStep = rateSlider_->singleStep();
    option.pageStep = rateSlider_->pageStep();
    option.tickPosition = rateSlider_->tickPosition();
    option.upsideDown = rateSlider_->invertedAppearance() != (option.direction == Qt::RightToLeft);
    option.subControls = QStyle::SC_SliderHandle;
    return rateSlider_->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle,
                                                rateSlider_);
}

void PortSettingsDialog::ShowRateTip() {
    const QRect thumb = RateThumb();
    const QPoint under(thumb.center().x(), thumb.bottom());
    QToolTip::showText(rateSlider_->mapToGlobal(under), RateText(rateSlider_->sliderPosition()), rateSlider_);
}

void PortSettingsDialog::OnFlashPort() {
    FillPortList();
    if (portList_->count() > 0) {
        portList_->setCurrentIndex(0);
        settings_.portIndex = 0;
    }
}

void PortSettingsDialog::OnOk() {
    const int selected = portList_->currentIndex();
    settings_.portIndex = selected < 0 ? kNoSelection : static_cast<std::uint16_t>(selected);
    if (portList_->count() == 0)
        settings_.portName.clear();
    else if (selected >= 0)
        settings_.portName = portList_->itemText(selected);
    // Entries but no selection: the previous port name stays.
    settings_.samplingRate = static_cast<std::uint16_t>(rateSlider_->value());
    accept();
}

void PortSettingsDialog::setVisible(bool visible) {
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (visible && !isVisible() && owner && owner->isVisible()) {
        // The window manager frames this dialog as it framed the owner: the owner's frame says
        // where this frame's corner goes for the two client areas to share their centre.
        const QPoint frame = owner->geometry().topLeft() - owner->frameGeometry().topLeft();
        const QPoint centre = owner->geometry().center();
        move(centre - QPoint((width() - 1) / 2, (height() - 1) / 2) - frame);
    }
    QDialog::setVisible(visible);
}

bool RunPortSetCommand(Settings& settings, QWidget* parent, bool acquisitionRuns, QString* statusText,
                       const PortLister& lister) {
    if (acquisitionRuns) {
        ShowLinkMessage(nullptr, QStringLiteral("please stop com first"), QStringLiteral("error"));
        return false;
    }
    PortSettingsDialog dialog(settings, parent, lister);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    if (statusText)
        *statusText = PortStatusText(settings.portName);
    return true;
}

} // namespace zelvox
