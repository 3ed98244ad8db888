// Home Assistant discovery configs against what its MQTT sensor takes: only keys of the sensor's
// schema, a device class only with a unit Home Assistant allows for it, and a value template that
// Jinja2 (Home Assistant's template engine) renders to the value for this function's reading and
// to "" (ignored) for another function's reading or an overload.
#include "publish/Discovery.h"
#include "decode/Labels.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace zelvox {
namespace {

// Renders template with each value_json through Jinja2.
QJsonArray Render(const QString& text, const QStringList& values) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral("-c"),
                             QStringLiteral("import sys, json, jinja2\n"
                                            "t = jinja2.Environment().from_string(sys.argv[1])\n"
                                            "print(json.dumps([t.render(value_json=json.loads(v)) "
                                            "for v in sys.argv[2:]]))")} +
                     QStringList{text} + values);
    if (!python.waitForFinished(10000) || python.exitCode() != 0)
        return {QStringLiteral("python3-jinja2: ") + QString::fromLocal8Bit(python.readAllStandardError())};
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

TEST(Discovery, EachFunctionHasHomeAssistantsClassAndUnitAndATemplateThatPassesOverOtherFunctions) {
    // The MQTT sensor's keys used here, and the units Home Assistant takes for each device class.
    const QStringList schema =
        QStringLiteral(
            "name unique_id object_id state_topic value_template device_class state_class "
            "unit_of_measurement availability_topic payload_available payload_not_available device")
            .split(QLatin1Char(' '));
    const std::map<QString, std::set<QString>> unitsOfClass = {
        {"voltage", {"V", "mV"}},
        {"current", {"A", "mA"}},
        {"frequency", {"Hz", "kHz", "MHz", "GHz"}},
        {"temperature", {"\u00B0C", "\u00B0F", "K"}},
        {"duration", {"d", "h", "min", "s", "ms"}},
    };
    struct Row {
        const char *label, *deviceClass, *unit;
    };
    const Row rows[] = {
        {"DCV mV", "voltage", "mV"},
        {"ACA A", "current", "A"},
        {"DCA uA", "", "\u00B5A"},
        {"OHM K\u03A9", "", "k\u03A9"},
        {"FRE KHz", "frequency", "kHz"},
        {"TMP \u2103", "temperature", "\u00B0C"},
        {"TMP \u2109", "temperature", "\u00B0F"},
        {"CAP uF", "", "\u00B5F"},
        {"DUTY", "", "%"},
        {"ms", "duration", "ms"},
        {"DIODE", "voltage", "V"},
    };
    MqttTarget target;
    target.prefix = "lab/bench3";
    std::map<QString, QJsonObject> configs;
    for (int code = 1; code < kFunctionCount; ++code) {
        const QString label = QString::fromStdString(ToUtf8(functionLabels[static_cast<std::size_t>(code)]));
        const QJsonObject config =
            QJsonDocument::fromJson(
                QByteArray::fromStdString(DiscoveryConfig(target, "zelvox-h-ttyUSB0", code)))
                .object();
        ASSERT_FALSE(config.isEmpty()) << code;
        for (const QString& key : config.keys())
            EXPECT_TRUE(schema.contains(key)) << label.toStdString() << ": " << key.toStdString();
        if (config.contains(QStringLiteral("device_class"))) {
            const auto units = unitsOfClass.find(config.value(QStringLiteral("device_class")).toString());
            ASSERT_NE(units, unitsOfClass.end()) << label.toStdString();
            EXPECT_TRUE(
                units->second.contains(config.value(QStringLiteral("unit_of_measurement")).toString()))
                << label.toStdString();
        }
        EXPECT_EQ(DiscoveryTopic("zelvox-h-ttyUSB0", code),
                  "homeassistant/sensor/zelvox-h-ttyUSB0/f" + std::to_string(code) + "/config");
        configs[label] = config;
    }
    for (const Row& r : rows) {
        const QJsonObject& config = configs[QString::fromUtf8(r.label)];
        EXPECT_EQ(config.value(QStringLiteral("device_class")).toString(), QString::fromUtf8(r.deviceClass))
            << r.label;
        EXPECT_EQ(config.value(QStringLiteral("unit_of_measurement")).toString(), QString::fromUtf8(r.unit))
            << r.label;
        const QString self = QJsonDocument(QJsonObject{{"function", r.label}, {"value", 1.25}}).toJson();
        const QString other = QJsonDocument(QJsonObject{{"function", "DCV V"}, {"value", 2.5}}).toJson();
        const QString overload =
            QJsonDocument(QJsonObject{{"function", r.label}, {"value", QJsonValue()}}).toJson();
        const QJsonArray rendered =
            Render(config.value(QStringLiteral("value_template")).toString(), {self, other, overload});
        const QJsonArray expected{QStringLiteral("1.25"), QString::fromUtf8(r.label) == "DCV V" ? "2.5" : "",
                                  QString()};
        EXPECT_EQ(rendered, expected) << r.label << ": " << QJsonDocument(rendered).toJson().toStdString();
    }
}

TEST(Discovery, AnAlarmIsABinarySensorOfProblemsThatReadsTheRulesRetainedState) {
    MqttTarget target;
    target.prefix = "lab/bench3";
    const WallTime since = WallTimeAt(1796868727415, 3600);
    const Reading high{4.5, 1, 1}, overload{kOverload, 0, 12};
    const std::string firing = AlarmMessage(true, since, &high, "above 4.2 V");
    EXPECT_EQ(firing, "{\"state\":\"firing\",\"since\":\"2026-12-10T03:12:07.415+01:00\",\"value\":4.5,"
                      "\"unit\":\"V\",\"rule\":\"above 4.2 V\"}");
    const std::string ok = AlarmMessage(false, since, &overload, "outside \"1\"..2");
    const std::string none = AlarmMessage(false, since, nullptr, "unplugged");
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(ok)).object(),
              (QJsonObject{{"state", "ok"},
                           {"since", "2026-12-10T03:12:07.415+01:00"},
                           {"value", QJsonValue()},
                           {"unit", "K\u03A9"},
                           {"rule", "outside \"1\"..2"}}));
    EXPECT_NE(none.find("\"value\":null,\"unit\":\"\""), std::string::npos) << none;

    EXPECT_EQ(AlarmDiscoveryTopic("zelvox-h-ttyUSB0", "high"),
              "homeassistant/binary_sensor/zelvox-h-ttyUSB0/alarm_high/config");
    const QJsonObject config =
        QJsonDocument::fromJson(
            QByteArray::fromStdString(AlarmDiscoveryConfig(target, "zelvox-h-ttyUSB0", "high")))
            .object();
    const QStringList schema =
        QStringLiteral("name unique_id object_id state_topic value_template payload_on "
                       "payload_off device_class availability_topic payload_available "
                       "payload_not_available device")
            .split(QLatin1Char(' '));
    EXPECT_EQ(config.keys().size(), schema.size());
    for (const QString& key : config.keys())
        EXPECT_TRUE(schema.contains(key)) << key.toStdString();
    EXPECT_EQ(config.value(QStringLiteral("device_class")).toString(), QStringLiteral("problem"));
    EXPECT_EQ(config.value(QStringLiteral("state_topic")).toString(),
              QStringLiteral("lab/bench3/alarm/high"));
    // What the template makes of both messages is what the sensor takes as on and off.
    const QJsonArray rendered = Render(config.value(QStringLiteral("value_template")).toString(),
                                       {QString::fromStdString(firing), QString::fromStdString(ok)});
    EXPECT_EQ(rendered, (QJsonArray{config.value(QStringLiteral("payload_on")),
                                    config.value(QStringLiteral("payload_off"))}));
}

} // namespace
} // namespace zelvox
