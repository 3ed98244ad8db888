// Command-line options of the program.
#include "app/ZelvoxApplication.h"

#include <gtest/gtest.h>

using namespace zelvox;

TEST(CommandLine, Options) {
    struct Case {
        QStringList args;
        bool demo;
        QString port;
        bool help;
        bool error;
    };
    const Case cases[] = {
        {{"zelvox"}, false, "", false, false},
        {{"zelvox", "--demo"}, true, "", false, false},
        {{"zelvox", "--port", "ttyUSB0"}, false, "ttyUSB0", false, false},
        {{"zelvox", "--port=/dev/serial/by-id/usb-x"}, false, "/dev/serial/by-id/usb-x", false, false},
        {{"zelvox", "--help"}, false, "", true, false},
        {{"zelvox", "--port"}, false, "", false, true},
        {{"zelvox", "--port="}, false, "", false, true},
        {{"zelvox", "--demo", "--port", "ttyS0"}, true, "ttyS0", false, true},
        {{"zelvox", "document.txt"}, false, "", false, true},
    };
    for (const Case& c : cases) {
        const CommandLine options = ParseCommandLine(c.args);
        SCOPED_TRACE(c.args.join(' ').toStdString());
        EXPECT_EQ(options.demo, c.demo);
        EXPECT_EQ(options.port, c.port);
        EXPECT_EQ(options.help, c.help);
        EXPECT_EQ(!options.error.isEmpty(), c.error) << options.error.toStdString();
    }

    // The journal's options.
    CommandLine o = ParseCommandLine({"zelvox", "--journal-dir", "/tmp/j", "--load=/tmp/j/a.csv", "--demo"});
    EXPECT_TRUE(o.error.isEmpty()) << o.error.toStdString();
    EXPECT_TRUE(o.journal);
    EXPECT_EQ(o.journalDir, "/tmp/j");
    EXPECT_EQ(o.load, "/tmp/j/a.csv");
    EXPECT_TRUE(o.demo);
    o = ParseCommandLine({"zelvox", "--no-journal", "--load", "a b.csv"});
    EXPECT_TRUE(o.error.isEmpty());
    EXPECT_FALSE(o.journal);
    EXPECT_EQ(o.load, "a b.csv");
    for (const QStringList& bad : {QStringList{"zelvox", "--load"}, QStringList{"zelvox", "--journal-dir="},
                                   QStringList{"zelvox", "--no-journal", "--journal-dir", "/tmp"}})
        EXPECT_FALSE(ParseCommandLine(bad).error.isEmpty()) << bad.join(' ').toStdString();
    EXPECT_TRUE(CommandLineHelp().contains("--demo"));
    for (const char* option : {"--no-journal", "--journal-dir DIR", "--load FILE"})
        EXPECT_TRUE(CommandLineHelp().contains(QLatin1String(option))) << option;
    EXPECT_TRUE(CommandLineHelp().contains("--port NAME"));
}
