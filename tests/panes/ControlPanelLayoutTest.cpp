// The control panel right after its first update: controls, geometry in both layouts, the
// fields, and the LCD picture with every segment lit.
#include "ControlPanelSupport.h"
#include "panes/SegmentLayout.h"
#include "panes/SegmentPicture.h"
#include "res/Artwork.h"
#include "res/ControlIds.h"
#include "support/ShownDisplay.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

using namespace zelvox;
using namespace zelvox::paneltest;

// Left, top, right, bottom as a rectangle: right and bottom are the first pixels outside.
QRect Edges(int l, int t, int r, int b) {
    return QRect(l, t, r - l, b - t);
}

TEST(PanelLayout, ButtonsBackgroundAndInitialStates) {
    PanelRig rig;
    struct Button {
        int id;
        const char* text;
        QRect rect;
        bool enabled;
    };
    const Button buttons[] = {{kStartButton, "START", Edges(0, 177, 74, 212), true},
                              {kStopButton, "STOP", Edges(84, 177, 158, 212), false},
                              {kResetButton, "RESET", Edges(169, 177, 243, 212), true},
                              {kExitButton, "EXIT", Edges(252, 177, 326, 212), true}};
    for (const Button& b : buttons) {
        auto* button = rig.Child<QPushButton>(b.id);
        ASSERT_NE(button, nullptr) << b.id;
        EXPECT_EQ(button->text(), QString::fromLatin1(b.text));
        EXPECT_EQ(button->geometry(), b.rect) << b.id;
        EXPECT_EQ(button->isEnabled(), b.enabled) << b.id;
    }

    auto* background = rig.Child<QLabel>(kDisplayBackground);
    ASSERT_NE(background, nullptr);
    EXPECT_EQ(background->windowTitle(), QStringLiteral("MYStatic"));
    EXPECT_EQ(background->geometry(), QRect(0, 0, 338, 174));

    // The mirrored frame agrees with a display whose 72 pictures are all shown.
    Frame allSet;
    allSet.fill(0xFF);
    EXPECT_EQ(zelvox::testing::ShownDisplay(*rig.panel), zelvox::testing::DisplayOf(allSet));
}

TEST(PanelLayout, SegmentPicturesSitWhereTheDisplayHasThem) {
    PanelRig rig;
    auto expectAt = [&](int s, int x, int y, int w, int h) {
        SegmentPicture* picture = rig.panel->Segment(s);
        ASSERT_NE(picture, nullptr) << s;
        EXPECT_EQ(picture->objectName(), QString::number(kFirstSegmentPicture + s));
        EXPECT_EQ(rig.Child<SegmentPicture>(kFirstSegmentPicture + s), picture);
        EXPECT_EQ(picture->geometry(), QRect(x, y, w, h)) << "picture " << s;
        EXPECT_TRUE(picture->IsLit()) << s;
    };
    // Digits: picture numbers of segments B G C D A F E, digit 1 (left) to digit 4.
    const int firstPicture[] = {44, 36, 28, 20};
    for (int n = 0; n < 4; ++n) {
        const int dx = 55 * n, s = firstPicture[n];
        expectAt(s + 0, 75 + dx, 37, 9, 49);  // B
        expectAt(s + 1, 40 + dx, 85, 40, 9);  // G
        expectAt(s + 2, 75 + dx, 93, 9, 49);  // C
        expectAt(s + 3, 40 + dx, 140, 40, 9); // D
        expectAt(s + 4, 40 + dx, 30, 40, 9);  // A
        expectAt(s + 5, 37 + dx, 37, 9, 49);  // F
        expectAt(s + 6, 37 + dx, 93, 9, 49);  // E
    }
    expectAt(43, 85, 140, 9, 9); // points, just left of the digit that follows
    expectAt(35, 140, 140, 9, 9);
    expectAt(27, 195, 140, 9, 9);
    expectAt(51, 5, 88, 27, 7); // minus
    // Annunciators, a sample across the nibble bytes.
    expectAt(0, 295, 153, 13, 18);  // numeral 8
    expectAt(3, 310, 153, 26, 18);  // CYL
    expectAt(4, 270, 3, 27, 18);    // battery
    expectAt(7, 295, 120, 15, 18);  // ohm
    expectAt(15, 280, 95, 13, 18);  // V
    expectAt(18, 170, 3, 45, 18);   // MAX
    expectAt(54, 260, 95, 20, 16);  // m
    expectAt(55, 265, 100, 13, 16); // micro
    expectAt(59, 5, 110, 25, 27);   // hold
    expectAt(66, 313, 120, 23, 18); // Hz
    expectAt(69, 235, 153, 14, 21); // numeral 3
    expectAt(71, 170, 153, 39, 18); // kRPM

    // Every picture is exactly as large as its image and lies on the display.
    for (int s = 0; s < kSegmentCount; ++s) {
        const SegmentPicture* picture = rig.panel->Segment(s);
        EXPECT_EQ(picture->size(), picture->Image().size()) << s;
        EXPECT_TRUE(QRect(0, 0, 338, 174).contains(picture->geometry())) << s;
    }
}

struct FieldRow {
    int labelId;
    const char* label;
    int fieldId;
};
const FieldRow kRows[] = {{kMaxLabel, "MAX", kMaxValueField},
                          {kMaxTimeLabel, "TIME", kMaxTimeField},
                          {kMinLabel, "MIN", kMinValueField},
                          {kMinTimeLabel, "TIME", kMinTimeField}};

TEST(PanelLayout, WideLayoutHasTwoColumnsBesideTheDisplay) {
    PanelRig rig(801, QSize(520, 227));
    for (int row = 0; row < 4; ++row) {
        auto* label = rig.Child<QLabel>(kRows[row].labelId);
        auto* field = rig.Child<QLineEdit>(kRows[row].fieldId);
        ASSERT_TRUE(label && field) << row;
        EXPECT_EQ(label->text(), QString::fromLatin1(kRows[row].label));
        EXPECT_EQ(label->geometry(), Edges(338, 50 * row, 378, 50 * row + 30)) << row;
        EXPECT_EQ(field->geometry(), Edges(388, 50 * row, 488, 50 * row + 30)) << row;
    }
}

TEST(PanelLayout, NarrowLayoutStacksEightRowsInTheRemainingWidth) {
    const std::pair<int, QRect> expected[] = {
        {kMaxLabel, Edges(339, 0, 389, 19)},        {kMaxValueField, Edges(339, 21, 389, 42)},
        {kMaxTimeLabel, Edges(339, 43, 389, 64)},   {kMaxTimeField, Edges(339, 65, 389, 86)},
        {kMinLabel, Edges(339, 87, 389, 106)},      {kMinValueField, Edges(339, 108, 389, 129)},
        {kMinTimeLabel, Edges(339, 130, 389, 151)}, {kMinTimeField, Edges(339, 152, 389, 173)}};
    PanelRig rig(800, QSize(390, 227));
    for (const auto& [id, rect] : expected) {
        auto* control = rig.Child<QWidget>(id);
        ASSERT_NE(control, nullptr) << id;
        EXPECT_EQ(control->geometry(), rect) << id;
    }
}

TEST(PanelLayout, FieldsStartAtZeroAndCannotBeEdited) {
    PanelRig rig;
    for (const FieldRow& row : kRows) {
        auto* field = rig.Child<QLineEdit>(row.fieldId);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->text(), QStringLiteral("0"));
        EXPECT_TRUE(field->isReadOnly());
        EXPECT_FALSE(field->hasFrame());
        EXPECT_EQ(field->font().pixelSize(), 15);

        field->setFocus();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_7, Qt::NoModifier, QStringLiteral("7"));
        QCoreApplication::sendEvent(field, &press);
        QKeyEvent erase(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QCoreApplication::sendEvent(field, &erase);
        EXPECT_EQ(field->text(), QStringLiteral("0"));
    }
    // Labels and buttons keep the default font; only the fields use the field font.
    EXPECT_NE(rig.Child<QLabel>(kMaxLabel)->font().pixelSize(), 15);
}

TEST(PanelLayout, AfterStartUpTheDisplayShowsEveryDigitAsEightWithAllPoints) {
    PanelRig rig;
    const QImage shot = Grab(*rig.panel);
    EXPECT_EQ(ReadDisplay(shot), "-8.8.8.8");

    // Each picture shows its own image: at a pixel that no other lit picture covers, the pane
    // has the image's colour; off the figures the display is black.
    const auto& layout = SegmentLayout();
    for (int s = 0; s < kSegmentCount; ++s) {
        const QImage image = res::LoadImage(layout[s].imageId);
        int checked = 0;
        for (int y = 0; y < image.height() && !checked; ++y)
            for (int x = 0; x < image.width() && !checked; ++x) {
                if ((image.pixel(x, y) & 0xFFFFFF) != 0x00FF00)
                    continue;
                const QPoint at(layout[s].x + x, layout[s].y + y);
                bool shared = false;
                for (int t = 0; t < kSegmentCount; ++t)
                    shared |= t != s && rig.panel->Segment(t)->geometry().contains(at);
                if (shared)
                    continue;
                EXPECT_EQ(shot.pixel(at) & 0xFFFFFF, 0x00FF00u) << "picture " << s;
                ++checked;
            }
        EXPECT_EQ(checked, 1) << "picture " << s << " has no bright pixel of its own";
    }
    EXPECT_EQ(shot.pixel(120, 60) & 0xFFFFFF, 0u); // inside digit 2, between its segments
    EXPECT_EQ(shot.pixel(337, 173) & 0xFFFFFF, 0u);
}

} // namespace
