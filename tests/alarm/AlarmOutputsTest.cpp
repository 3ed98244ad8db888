#include "alarm/AlarmOutputs.h"
#include "decode/FunctionCode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <unistd.h>

namespace zelvox {
namespace {

constexpr std::int64_t kMoment = 1796868727415; // 2026-12-10T03:12:07.415+01:00

AlarmRule Rule(const char* text) {
    AlarmRule rule;
    EXPECT_TRUE(ParseAlarmRule(text, rule, nullptr)) << text;
    return rule;
}

AlarmEvent Event(bool firing, bool hasReading, Reading r) {
    return {0, firing, WallTimeAt(kMoment, 3600), hasReading, r, 41};
}

TEST(AlarmOutputs, EachEventIsOneLineOneRowAndOneCommandWithItsEnvironment) {
    const AlarmRule high = Rule("high: above 4.2 V clear 4.15 V"), ol = Rule("ol: overload"),
                    fail = Rule("fail: silent for 5s"), hang = Rule("hang: unplugged");
    const AlarmEvent fired = Event(true, true, {4.5, 1, kDcVolt});
    EXPECT_EQ(AlarmLine("zelvox-decode", high, fired),
              "zelvox-decode: alarm high firing: 4.500 V at 2026-12-10T03:12:07.415+01:00\n");
    EXPECT_EQ(AlarmLine("zelvox-decode", fail, Event(true, false, {})),
              "zelvox-decode: alarm fail firing at 2026-12-10T03:12:07.415+01:00\n");
    EXPECT_EQ(EventCsvLine(AlarmEventRow(ol, Event(false, true, {-kOverload, 0, kKiloOhm}))),
              "2026-12-10T03:12:07.415+01:00,41,ol,ok,-0L,K\u03A9\r\n");

    char dir[] = "/tmp/zelvox-alarmcmd-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string out = std::string(dir) + "/out";
    ::setenv("ZELVOX_ALARM", "stale", 1); // the program's own is replaced, not doubled
    std::mutex mutex;
    std::vector<std::string> failures;
    // Standard output is the logger's record: what a command prints goes to standard error.
    const int savedOut = ::dup(1), savedErr = ::dup(2);
    ::fflush(stdout);
    for (int fd : {1, 2})
        ::dup2(::open((out + std::to_string(fd)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), fd);
    {
        AlarmCommand command(
            "printf '%s|' \"$ZELVOX_ALARM\" \"$ZELVOX_ALARM_STATE\" \"$ZELVOX_ALARM_VALUE\" "
            "\"$ZELVOX_ALARM_UNIT\" \"$ZELVOX_ALARM_TIME\" \"$ZELVOX_ALARM_RULE\" \"$ZELVOX_PORT\" "
            "\"$(env | grep -c ^ZELVOX_ALARM=)\" >> " +
                out + "; echo >> " + out +
                "; echo said; case $ZELVOX_ALARM in fail) exit 3;; hang) sleep 30;; esac",
            "/dev/ttyUSB0",
            [&](const std::string& text) {
                std::lock_guard lock(mutex);
                failures.push_back(text);
            },
            std::chrono::milliseconds(1000));
        command.Start();
        command.Run(high, fired);
        command.Run(ol, Event(true, true, {kOverload, 0, kDcVolt}));
        command.Run(fail, Event(false, true, {12.5, 3, kCelsius}));
        command.Run(hang, Event(true, false, {}));
        command.Stop(std::chrono::seconds(20)); // what is queued runs first
    }
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    std::stringstream said[2];
    for (int fd : {1, 2})
        said[fd - 1] << std::ifstream(out + std::to_string(fd)).rdbuf();
    EXPECT_EQ(said[0].str(), "");
    EXPECT_EQ(said[1].str(), "said\nsaid\nsaid\nsaid\n");
    ::unsetenv("ZELVOX_ALARM");
    std::ifstream in(out);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(),
              "high|firing|4.500|V|2026-12-10T03:12:07.415+01:00|above 4.2 V clear 4.15 V|/dev/ttyUSB0|1|\n"
              "ol|firing||V|2026-12-10T03:12:07.415+01:00|overload|/dev/ttyUSB0|1|\n"
              "fail|ok|12.5|\u2103|2026-12-10T03:12:07.415+01:00|silent for 5s|/dev/ttyUSB0|1|\n"
              "hang|firing|||2026-12-10T03:12:07.415+01:00|unplugged|/dev/ttyUSB0|1|\n");
    EXPECT_EQ(failures,
              (std::vector<std::string>{"alarm command for fail ok ended with status 3",
                                        "alarm command for hang firing ran for 1 s and was killed"}));

    // A command that hangs does not hold the end: it is killed, and what waited is said.
    failures.clear();
    const auto before = std::chrono::steady_clock::now();
    {
        AlarmCommand command("echo started >> " + out + "; sleep 30", "ttyUSB0",
                             [&](const std::string& text) {
                                 std::lock_guard lock(mutex);
                                 failures.push_back(text);
                             });
        command.Start();
        command.Run(hang, Event(true, false, {}));
        command.Run(hang, Event(false, false, {}));
        while (std::filesystem::file_size(out) == got.str().size())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        command.Stop(std::chrono::milliseconds(0));
        command.Run(high, fired); // after the end: dropped, and said
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
    EXPECT_EQ(failures,
              (std::vector<std::string>{"alarm command for hang firing was stopped: the program is ending",
                                        "alarm commands not run, the program is ending: 1",
                                        "alarm command for high firing dropped: the program is ending"}));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace zelvox
