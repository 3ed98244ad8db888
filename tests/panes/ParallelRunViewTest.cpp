// Two meters on one time axis in the Run View: sources told apart by what they are (the two
// meters' logs themselves on a desktop: tests/app/desktop/RunViewDesktopTest.cpp).
#include "panes/RunSourceGroups.h"
#include "support/RunJournal.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace zelvox {
namespace {

constexpr std::int64_t kStart = 1796726526000;

TEST(ParallelRunView, SourcesAreToldApartByWhatTheyAre) {
    QTemporaryDir dir;
    const auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    QDir().mkpath(path("lab"));
    QDir().mkpath(path("journals"));
    const auto log = [&](const QString& p, std::uint8_t function) {
        testing::WriteOneFunctionLog(p.toStdString(), 3, kStart, 1000, function, 1,
                                     [](std::int64_t) { return 1.5; });
    };
    log(path("a.log"), kDcVolt);
    log(path("b.log"), kDcMilliampere);
    log(path("lab/ttyUSB0.log"), kDcVolt);
    log(path("lab/ttyUSB0.log.1"), kDcVolt);
    log(path("lab/ttyUSB1.log"), kDcMilliampere);
    log(path("journals/2026-12-08T10-42-06.csv"), kDcVolt);
    log(path("journals/2026-12-09T10-42-06.csv"), kDcVolt);
    struct Case {
        QStringList arguments;
        QStringList names;
    } cases[] = {
        {{path("a.log"), path("b.log")}, {"a", "b"}},
        {{path("lab/ttyUSB0.log"), path("lab/ttyUSB0.log.1"), path("lab/ttyUSB0.log.2.gz")}, {"ttyUSB0"}},
        {{path("lab")}, {"ttyUSB0", "ttyUSB1"}},
        {{path("journals")}, {"journals"}},
        {{path("journals/2026-12-08T10-42-06.csv"), path("journals/2026-12-09T10-42-06.csv")}, {"journals"}},
        {{"V=" + path("a.log"), "I=" + path("a.log"), "V=" + path("b.log")}, {"V", "I"}},
    };
    for (const Case& c : cases) {
        QStringList names;
        for (const RunSourceGroup& g : GroupRunSources(c.arguments))
            names << g.name;
        EXPECT_EQ(names, c.names) << c.arguments.join(' ').toStdString();
    }
}

} // namespace
} // namespace zelvox
