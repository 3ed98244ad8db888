// A lab on the broker in the Run View: each meter's readings in a window of its own, each once
// however often QoS 1 brings it, and the meter's status beside them.
#include "panes/RunBrokerFeed.h"
#include "panes/RunViewWindow.h"
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

    RunViewWindow* other = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* v = qobject_cast<RunViewWindow*>(w); v && v != &view)
                    other = v;
            return view.Index().Size() == 5 && other && other->Index().Size() == 3;
        },
        10000));
    QTest::qWait(300);
    EXPECT_EQ(view.Index().Size(), 5);
    EXPECT_EQ(view.Index().IndexOf(4), 5);
    EXPECT_TRUE(view.windowTitle().startsWith(QStringLiteral("lab/a"))) << view.windowTitle().toStdString();
    EXPECT_TRUE(other->windowTitle().startsWith(QStringLiteral("lab/b")));
    EXPECT_TRUE(view.findChild<QLabel*>(QStringLiteral("RunProgress"))->text().contains("lab/a is online"));
    mosquitto_loop_stop(pub, true);
    mosquitto_destroy(pub);
    delete other;
}

} // namespace
} // namespace zelvox
