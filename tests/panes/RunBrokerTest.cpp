// A lab on the broker in the Run View: each meter's readings a group of lanes in one window, each once
// however often QoS 1 brings it, and the meter's status beside them.
#include "panes/RunBrokerFeed.h"
#include "panes/RunViewWindow.h"
#include "publish/Discovery.h"
#include "record/ReadingRecord.h"
#include "support/Broker.h"

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <mosquitto.h>

namespace zelvox {
namespace {

TEST(RunBroker, ALabsMetersEachGetTheirReadingsOnceAndTheirStatus) {
    QTemporaryDir dir;
    testing::Broker broker(dir.path());
    std::string why;
    ASSERT_TRUE(broker.Start(&why)) << why;
    MqttTarget target;
    ASSERT_TRUE(ParseViewUrl("mqtt://127.0.0.1:" + std::to_string(broker.Port()) + "/lab/+", {}, {}, {}, {},
                             target, &why))
        << why;
    EXPECT_EQ(target.prefix, "lab/+");
    RunViewWindow view;
    QString error;
    ASSERT_TRUE(view.OpenBroker(target, &error)) << error.toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return view.findChild<QLabel*>(QStringLiteral("RunProgress"))->text().startsWith("connected");
        },
        10000));

    mosquitto* pub = mosquitto_new("run-view-test", true, nullptr);
    ASSERT_EQ(mosquitto_connect(pub, "127.0.0.1", broker.Port(), 30), MOSQ_ERR_SUCCESS);
    ASSERT_EQ(mosquitto_loop_start(pub), MOSQ_ERR_SUCCESS);
    const auto publish = [&](const std::string& topic, const std::string& payload) {
        mosquitto_publish(pub, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                          false);
    };
    const auto reading = [&](const char* meter, std::int64_t index, double value) {
        JournalRow row{Reading{value, 1, 1}, WallTimeAt(1796726526000 + index * 500, 3600), index};
        std::string message;
        BrokerMessage(row, "2026-12-08T10-00-00", message);
        publish(std::string("lab/") + meter + "/reading", message);
    };
    publish("lab/a/status", "online");
    for (std::int64_t i : {1, 2, 3, 2, 3, 4, 5}) // 2 and 3 again, as after a reconnect
        reading("a", i, 1.0 + static_cast<double>(i) / 1000);
    publish("lab/a/reading", "{\"time\":\"not a time\"}");
    for (std::int64_t i : {7, 8, 9})
        reading("b", i, 2.5);
    // A rule's retained states: firing, ok, the firing again (a reconnect), and damage.
    const Reading high{4.5, 1, 1};
    publish("lab/a/alarm/high",
            AlarmMessage(true, WallTimeAt(1796726526000 + 2 * 500, 3600), &high, "above 4.2 V"));
    publish("lab/a/alarm/high",
            AlarmMessage(false, WallTimeAt(1796726526000 + 4 * 500, 3600), &high, "above 4.2 V"));
    publish("lab/a/alarm/high",
            AlarmMessage(true, WallTimeAt(1796726526000 + 2 * 500, 3600), &high, "above 4.2 V"));
    publish("lab/a/alarm/bad name", AlarmMessage(true, WallTimeAt(1796726526000, 3600), &high, "x"));
    publish("lab/a/alarm/low", "{\"state\":\"pending\",\"since\":\"2026-12-08T10:42:06.000+01:00\"}");

    // One window, a group of lanes for each meter.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return view.Index().Size() == 5 && view.Parallel() && view.Parallel()->SourceCount() == 2 &&
                   view.Parallel()->Source(1).Size() == 3 && view.Index().Events().Size() == 2;
        },
        10000));
    QTest::qWait(300);
    EXPECT_EQ(view.Index().Size(), 5);
    EXPECT_EQ(view.Index().IndexOf(4), 5);
    EXPECT_EQ(view.Parallel()->SourceName(0), "lab/a");
    EXPECT_EQ(view.Parallel()->SourceName(1), "lab/b");
    EXPECT_EQ(view.Parallel()->Source(1).Size(), 3);
    EXPECT_TRUE(view.windowTitle().startsWith(QStringLiteral("lab/a, lab/b")))
        << view.windowTitle().toStdString();
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<RunViewWindow*>(w) && w != &view);
    // The rule's span from its firing to its ok, on the meter's own lanes only.
    ASSERT_EQ(view.Index().Events().Spans().size(), 1u);
    EXPECT_EQ(view.Index().Events().Spans()[0].fromMs, 1796726526000 + 1000);
    EXPECT_EQ(view.Index().Events().Spans()[0].toMs, 1796726526000 + 2000);
    EXPECT_EQ(view.Index().Events().Events()[0].value, "4.5");
    EXPECT_EQ(view.Parallel()->Source(1).Events().Size(), 0u);
    EXPECT_TRUE(view.findChild<QLabel*>(QStringLiteral("RunProgress"))->text().contains("lab/a is online"));
    view.BringUpToDate();
    EXPECT_TRUE(view.ReadoutText().contains("lab/b: DCV V: count 3")) << view.ReadoutText().toStdString();
    mosquitto_loop_stop(pub, true);
    mosquitto_destroy(pub);
}

} // namespace
} // namespace zelvox
