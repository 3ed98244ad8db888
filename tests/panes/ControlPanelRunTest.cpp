// START, frames and STOP on a real pseudo-terminal: the LCD mirror follows the meter's frames
// bit by bit, and a failed START leaves the panel idle with its message.
#include "ControlPanelSupport.h"
#include "decode/FrameEncoder.h"
#include "decode/FunctionCode.h"
#include "panes/SegmentLayout.h"
#include "panes/SegmentPicture.h"
#include "res/ControlIds.h"
#include "support/ModalWatcher.h"
#include "support/ShownDisplay.h"

#include <QPushButton>
#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

using namespace zelvox;
using namespace zelvox::paneltest;
using namespace zelvox::testing;

bool Shown(const PanelRig& rig, int s) {
    return rig.panel->Segment(s)->IsLit();
}

int ShownCount(const PanelRig& rig) {
    int n = 0;
    for (int s = 0; s < kSegmentCount; ++s)
        n += Shown(rig, s);
    return n;
}

// Starts on the pseudo-terminal and checks the display went dark.
void StartOn(PanelRig& rig, const zelvox::testing::Pty& pty) {
    rig.hub.settings.portName = pty.SlavePath();
    rig.panel->OnStart();
    ASSERT_FALSE(rig.Child<QPushButton>(kStartButton)->isEnabled());
    ASSERT_TRUE(rig.Child<QPushButton>(kStopButton)->isEnabled());
}

bool Mirrors(const PanelRig& rig, const Frame& f) {
    return ShownDisplay(*rig.panel) == DisplayOf(f);
}

TEST(PanelRun, StartDarkensEveryPictureAndFramesLightExactlyTheirBits) {
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    PanelRig rig;
    StartOn(rig, pty);

    // Dark display, dark mirror, before any frame can be handled.
    EXPECT_EQ(ShownCount(rig), 0);
    EXPECT_EQ(ShownDisplay(*rig.panel), Nibbles{});
    QImage shot = Grab(*rig.panel);
    for (int y = 0; y < 174; ++y)
        for (int x = 0; x < 338; ++x)
            ASSERT_EQ(shot.pixel(x, y) & 0xFFFFFF, 0u) << x << "," << y;

    std::mt19937 random(20140307);
    std::uniform_int_distribution<int> nibble(0, 15);
    for (int round = 0; round < 6; ++round) {
        std::array<std::uint8_t, 18> nibbles{};
        for (auto& n : nibbles)
            n = static_cast<std::uint8_t>(nibble(random));
        const Frame frame = FrameOfNibbles(nibbles);
        ASSERT_TRUE(pty.Write(frame));
        ASSERT_TRUE(WaitUntil([&] { return Mirrors(rig, frame); })) << "round " << round;
        for (int s = 0; s < kSegmentCount; ++s) {
            const bool bit = frame[static_cast<std::size_t>(s / 4 + 1)] & (8 >> (s % 4));
            EXPECT_EQ(Shown(rig, s), bit) << "round " << round << " picture " << s;
        }
    }
}

TEST(PanelRun, TheDisplayReadsBackWhatTheMeterShows) {
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    PanelRig rig;
    StartOn(rig, pty);

    // Annunciator areas that no other picture overlaps.
    const QRect dc(5, 30, 25, 18), ac(5, 50, 26, 18), volt(280, 95, 13, 18), ohm(295, 120, 15, 18),
        kilo(260, 120, 12, 18), hertz(313, 120, 23, 18);
    auto anyLit = [](const QImage& shot, QRect r) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (qGreen(shot.pixel(x, y)) > 0)
                    return true;
        return false;
    };
    struct Case {
        const char* text;
        int function;
        const char* shown;
        std::vector<QRect> lit, dark;
    };
    const Case cases[] = {
        {"1.234", 1, "1.234", {dc, volt}, {ac, ohm}},
        {"5678", 3, "5678", {ac, volt}, {dc, hertz}},
        {"-0.5", 1, "-  0.5", {dc, volt}, {ac}},
        {"90.12", 12, "90.12", {ohm, kilo}, {dc, ac, volt}},
        {"0L", 11, "  0L", {ohm}, {kilo}},
        {"4.5", 17, "  4.5", {hertz}, {ohm, kilo, dc}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto frame = EncodeReading(c.text, c.function);
        ASSERT_TRUE(frame.has_value());
        ASSERT_TRUE(pty.Write(*frame));
        ASSERT_TRUE(WaitUntil([&] { return Mirrors(rig, *frame); }));
        const QImage shot = Grab(*rig.panel);
        std::string shown = ReadDisplay(shot);
        // 'L' is no digit: the read-back shows '?' for it.
        std::string want = c.shown;
        std::replace(want.begin(), want.end(), 'L', '?');
        EXPECT_EQ(shown, want);
        for (QRect r : c.lit)
            EXPECT_TRUE(anyLit(shot, r)) << r.x() << "," << r.y();
        for (QRect r : c.dark)
            EXPECT_FALSE(anyLit(shot, r)) << r.x() << "," << r.y();
    }
}

TEST(PanelRun, StopKeepsTheLastPictureAndTheNextStartBeginsDark) {
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    PanelRig rig;
    StartOn(rig, pty);
    const auto frame = EncodeReading("43.21", kDcVolt);
    ASSERT_TRUE(pty.Write(*frame));
    // Stop as soon as the reader has taken the frame, whether or not the display has it yet.
    ASSERT_TRUE(WaitUntil([&] {
        const ReadingHistory& history = rig.session().History();
        return history.Count() == 1 && history.Value(0) == 43.21;
    }));
    rig.panel->OnStop();
    EXPECT_TRUE(rig.Child<QPushButton>(kStartButton)->isEnabled());
    EXPECT_FALSE(rig.Child<QPushButton>(kStopButton)->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return Mirrors(rig, *frame); }, 2000));
    WaitUntil([] { return false; }, 50);
    EXPECT_EQ(ShownDisplay(*rig.panel), DisplayOf(*frame));
    EXPECT_EQ(ReadDisplay(Grab(*rig.panel)), "43.21");

    // START again on the same port: dark, and nothing of the old run lights a segment.
    StartOn(rig, pty);
    WaitUntil([] { return false; }, 100);
    EXPECT_EQ(ShownCount(rig), 0);
    EXPECT_EQ(ShownDisplay(*rig.panel), Nibbles{});
    const auto next = EncodeReading("1", kDcVolt);
    ASSERT_TRUE(pty.Write(*next));
    ASSERT_TRUE(WaitUntil([&] { return Mirrors(rig, *next); }));
    EXPECT_EQ(ReadDisplay(Grab(*rig.panel)), "   1");
    rig.panel->OnStop();
}

TEST(PanelRun, StartOnAMissingDeviceSaysSoAndStaysIdle) {
    PanelRig rig;
    rig.hub.settings.portName = QStringLiteral("/nonexistent/zelvox-tty");
    {
        zelvox::testing::ModalWatcher watcher;
        rig.panel->OnStart();
        ASSERT_EQ(watcher.boxes.size(), 1u);
        EXPECT_EQ(watcher.boxes[0].text, QStringLiteral("open port error"));
        EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("error"));
    }
    EXPECT_TRUE(rig.Child<QPushButton>(kStartButton)->isEnabled());
    EXPECT_FALSE(rig.Child<QPushButton>(kStopButton)->isEnabled());
    EXPECT_EQ(ShownCount(rig), kSegmentCount); // the display keeps its start-up picture
    Frame allSet;
    allSet.fill(0xFF);
    EXPECT_EQ(ShownDisplay(*rig.panel), DisplayOf(allSet));
    EXPECT_FALSE(rig.session().IsRunning());

    // A second START with a device that exists works.
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    StartOn(rig, pty);
    EXPECT_TRUE(rig.session().IsRunning());
    rig.panel->OnStop();
}

TEST(PanelRun, FramesFromTheReaderAreMirroredInOrder) {
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    PanelRig rig;
    StartOn(rig, pty);
    // Each frame lights a single, different picture: only in-order handling ends with the last
    // one lit and all the others dark again.
    std::vector<Frame> frames;
    for (int s = 0; s < kSegmentCount; ++s) {
        std::array<std::uint8_t, 18> nibbles{};
        nibbles[static_cast<std::size_t>(s / 4)] = static_cast<std::uint8_t>(8 >> (s % 4));
        frames.push_back(FrameOfNibbles(nibbles));
    }
    // All at once: the reader hands them over while the UI thread is busy here.
    for (const Frame& f : frames)
        ASSERT_TRUE(pty.Write(f));
    ASSERT_TRUE(WaitUntil([&] { return Mirrors(rig, frames.back()); }));
    for (int s = 0; s < kSegmentCount; ++s)
        EXPECT_EQ(Shown(rig, s), s == kSegmentCount - 1) << s;
}

TEST(PanelRun, ClosingWhileRunningEndsTheWorkersAndFreesThePort) {
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    std::atomic<bool> sending{true};
    std::thread meter;
    const auto frame = EncodeReading("12.34", kDcMillivolt);
    {
        PanelRig rig;
        StartOn(rig, pty);
        meter = std::thread([&] {
            while (sending) {
                pty.Write(*frame);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        ASSERT_TRUE(WaitUntil([&] { return Mirrors(rig, *frame); }));
        WaitUntil([&] { return rig.hub.history().readingPending == 1; }, kSaveGraphButton);
    } // panel and session go while frames keep arriving
    sending = false;
    meter.join();

    PanelRig again;
    StartOn(again, pty);
    again.panel->OnStop();
}

} // namespace
