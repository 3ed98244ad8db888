// The port settings dialog and the PORT SET command, headless.
#include "dialogs/PortSettingsDialog.h"
#include "dialogs/ModalProbe.h"
#include "res/ControlIds.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QToolTip>
#include <algorithm>
#include <gtest/gtest.h>
#include <set>

namespace zelvox {
namespace {

using namespace zelvox::testing;

const QStringList kThreePorts{QStringLiteral("ttyUSB0"), QStringLiteral("ttyS4"), QStringLiteral("ttyACM2")};

PortLister Fixed(const QStringList& ports) {
    return [ports] { return ports; };
}

TEST(PortSettingsDialog, ControlsIdsTextsAndGeometry) {
    Settings settings;
    PortSettingsDialog dialog(settings, nullptr, Fixed(kThreePorts));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Dialog"));
    EXPECT_EQ(dialog.size(), QSize(471, 117)); // 314 x 72 dialog units
    const struct {
        int id;
        const char* className;
        const char* text;
        QRect geometry; // dialog units scaled by 6/4 and 13/8
    } controls[] = {
        {kPortList, "QComboBox", nullptr, QRect(15, 18, 162, 24)},
        {kFlashButton, "QPushButton", "FLASH PORT", QRect(192, 16, 93, 26)},
        {kRateSlider, "QSlider", nullptr, QRect(26, 72, 327, 23)},
        {kDialogOk, "QPushButton", "OK", QRect(386, 62, 75, 23)},
    };
    for (const auto& c : controls) {
        auto* w = dialog.findChild<QWidget*>(ControlName(c.id));
        ASSERT_NE(w, nullptr) << c.id;
        EXPECT_STREQ(w->metaObject()->className(), c.className) << c.id;
        EXPECT_EQ(w->geometry(), c.geometry) << c.id;
        if (c.text) {
            EXPECT_EQ(qobject_cast<QPushButton*>(w)->text(), QLatin1String(c.text));
        }
    }
    auto* group = dialog.findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), QStringLiteral("Data sampling"));
    EXPECT_EQ(group->geometry(), QRect(17, 50, 351, 55));
    // OK is the default button and there is no Cancel.
    EXPECT_TRUE(dialog.OkButton()->isDefault());
    EXPECT_EQ(dialog.findChildren<QPushButton*>().size(), 2);
    EXPECT_EQ(dialog.RateSlider()->orientation(), Qt::Horizontal);
    EXPECT_EQ(dialog.RateSlider()->tickPosition(), QSlider::NoTicks);
}

TEST(PortSettingsDialog, InitialisationPreselectsThePortIndexAndTheRateAndTheRateTextFollows) {
    const struct {
        std::uint16_t index;
        int expectedSelection;
    } cases[] = {{0, 0}, {2, 2}, {3, -1}, {65535, -1}};
    for (const auto& c : cases) {
        Settings settings;
        settings.portIndex = c.index;
        settings.samplingRate = 37;
        PortSettingsDialog dialog(settings, nullptr, Fixed(kThreePorts));
        QStringList entries;
        for (int i = 0; i < dialog.PortList()->count(); ++i)
            entries << dialog.PortList()->itemText(i);
        EXPECT_EQ(entries, kThreePorts);
        EXPECT_EQ(dialog.PortList()->currentIndex(), c.expectedSelection) << c.index;
        QSlider* slider = dialog.RateSlider();
        EXPECT_EQ(slider->value(), 37);
        EXPECT_EQ(slider->windowTitle(), QStringLiteral("Sampling Rate:   37/Minute"));
        // The slider's texts follow its position.
        slider->setValue(5);
        for (const QString& text : {slider->windowTitle(), slider->accessibleName(), slider->toolTip()})
            EXPECT_EQ(text, QStringLiteral("Sampling Rate:   5/Minute"));
    }
}

QWidget* ToolTipWindow() {
    for (QWidget* w : QApplication::allWidgets())
        if (w->objectName() == QLatin1String("qtooltip_label") && w->isVisible())
            return w;
    return nullptr;
}

TEST(PortSettingsDialog, TheRateIsShownWhileChosenAndMouseAndKeysReachEveryRate) {
    Settings settings;
    settings.samplingRate = 1;
    PortSettingsDialog dialog(settings, nullptr, Fixed(kThreePorts));
    dialog.show();
    QSlider* slider = dialog.RateSlider();
    std::set<int> reached;
    std::vector<int> tipX; // where the tooltip showed each new rate (shown beside the group too)
    QObject::connect(slider, &QSlider::valueChanged, [&](int rate) {
        reached.insert(rate);
        const QString text = PortSettingsDialog::RateText(rate);
        QWidget* tip = ToolTipWindow();
        tipX.push_back(tip && QToolTip::text() == text && dialog.RateLabel()->text() == text ? tip->x() : -1);
    });
    const QPoint grip = dialog.RateThumb().center();
    const auto mouse = [&](QEvent::Type type, int x) {
        QMouseEvent event(type, QPoint(x, grip.y()), slider->mapToGlobal(QPoint(x, grip.y())), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(slider, &event);
    };
    mouse(QEvent::MouseButtonPress, grip.x());
    for (int x = grip.x(); x <= slider->width(); ++x) // the thumb dragged pixel by pixel
        mouse(QEvent::MouseMove, x);
    mouse(QEvent::MouseButtonRelease, slider->width());
    EXPECT_EQ(reached.size(), 119u) << "the mouse skipped rates";
    EXPECT_GT(tipX.back() - tipX.front(), slider->width() * 3 / 4) << "the tooltip follows the thumb";
    QTest::keyClick(slider, Qt::Key_Home);
    for (int i = 1; i < 60; ++i)
        QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(reached.size(), 120u) << "the keys skipped rates";
    EXPECT_EQ(std::count(tipX.begin(), tipX.end(), -1), 0) << "a rate was not shown";
    dialog.OkButton()->click();
    EXPECT_EQ(settings.samplingRate, 60);
}

TEST(PortSettingsDialog, OkTakesSelectionNameAndRate) {
    const struct {
        QStringList ports;
        std::uint16_t startIndex;
        int choose; // -2: leave the selection as it is
        int sliderValue;
        const char* name; // expected port name
        std::uint16_t index;
    } cases[] = {
        {kThreePorts, 0, 2, 1, "ttyACM2", 2},        // third entry, far left
        {kThreePorts, 0, 0, 120, "ttyUSB0", 0},      // far right
        {{}, 1, -2, 60, "", 65535},                  // empty list: no port at all
        {kThreePorts, 9, -2, 60, "previous", 65535}, // entries but none selected: keep the name
    };
    for (const auto& c : cases) {
        Settings settings;
        settings.portName = QStringLiteral("previous");
        settings.portIndex = c.startIndex;
        PortSettingsDialog dialog(settings, nullptr, Fixed(c.ports));
        if (c.choose >= -1)
            dialog.PortList()->setCurrentIndex(c.choose);
        dialog.RateSlider()->setValue(c.sliderValue);
        dialog.OkButton()->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(settings.portName, QLatin1String(c.name));
        EXPECT_EQ(settings.portIndex, c.index);
        EXPECT_EQ(settings.samplingRate, c.sliderValue);
    }
}

TEST(PortSettingsDialog, FlashPortRediscoversAndResetsTheIndexAtOnce) {
    int calls = 0;
    Settings settings;
    settings.portName = QStringLiteral("ttyS4");
    settings.portIndex = 1;
    settings.samplingRate = 90;
    PortSettingsDialog dialog(settings, nullptr, [&] {
        ++calls;
        return calls == 1 ? kThreePorts : QStringList{QStringLiteral("ttyUSB7"), QStringLiteral("ttyUSB8")};
    });
    EXPECT_EQ(dialog.PortList()->currentIndex(), 1);
    dialog.FlashButton()->click();
    EXPECT_EQ(calls, 2);
    ASSERT_EQ(dialog.PortList()->count(), 2);
    EXPECT_EQ(dialog.PortList()->itemText(0), QStringLiteral("ttyUSB7"));
    EXPECT_EQ(dialog.PortList()->currentIndex(), 0);
    EXPECT_EQ(settings.portIndex, 0);
    // Closing without OK takes nothing else.
    dialog.RateSlider()->setValue(10);
    dialog.reject();
    EXPECT_EQ(settings.portName, QStringLiteral("ttyS4"));
    EXPECT_EQ(settings.samplingRate, 90);
}

TEST(RunPortSetCommand, RefusedWhileAcquisitionRuns) {
    bool listed = false;
    Settings settings;
    SeenBox seen;
    QWidget parent;
    QString status = QStringLiteral("unchanged");
    bool accepted = true;
    {
        ModalProbe probe(RecordBox(&seen));
        accepted = RunPortSetCommand(settings, &parent, /*acquisitionRuns=*/true, &status, [&] {
            listed = true;
            return kThreePorts;
        });
    }
    EXPECT_FALSE(accepted);
    EXPECT_FALSE(listed) << "the dialog was created";
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.text, QStringLiteral("please stop com first"));
    EXPECT_EQ(seen.caption, QStringLiteral("error"));
    EXPECT_FALSE(seen.hadOwner);
    EXPECT_EQ(status, QStringLiteral("unchanged"));
}

TEST(RunPortSetCommand, OkSetsTheStatusTextAndClosingChangesNothing) {
    const struct {
        QStringList ports;
        bool pressOk;
        bool accepted;
        const char* status;
    } cases[] = {
        {kThreePorts, true, true, "ttyACM2,2400,N,8,1"},
        {{}, true, true, "NO PORT"},
        {kThreePorts, false, false, "unchanged"},
    };
    for (const auto& c : cases) {
        Settings settings;
        settings.portIndex = 2;
        QString status = QStringLiteral("unchanged");
        bool accepted = false;
        {
            ModalProbe probe([&](QWidget* w) {
                auto* dialog = qobject_cast<PortSettingsDialog*>(w);
                if (!dialog) {
                    ADD_FAILURE() << "not the port settings dialog";
                    w->close();
                    return;
                }
                if (c.pressOk)
                    dialog->OkButton()->click();
                else
                    dialog->close();
            });
            accepted =
                RunPortSetCommand(settings, nullptr, /*acquisitionRuns=*/false, &status, Fixed(c.ports));
        }
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(status, QLatin1String(c.status));
    }
}

} // namespace
} // namespace zelvox
