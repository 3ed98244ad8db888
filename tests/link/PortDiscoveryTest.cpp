// Port discovery over a fake /sys and /dev tree, the natural order, the start-up choice and
// the status bar's port text.
#include "link/PortDiscovery.h"
#include "link/Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace zelvox {
namespace {

// One tty entry of the fake tree.
struct Tty {
    const char* name;
    bool device;      // sysfs has a device link
    const char* type; // ttyS UART type file content; nullptr: no file
    bool node;        // /dev has the node
};

class FakeSystem {
public:
    explicit FakeSystem(std::initializer_list<Tty> ttys) {
        for (const Tty& t : ttys)
            Add(t);
    }
    void Add(const Tty& t) {
        const QString dir = SysRoot() + QStringLiteral("/class/tty/") + QLatin1String(t.name);
        QDir().mkpath(dir);
        if (t.device)
            QDir().mkpath(dir + QStringLiteral("/device"));
        if (t.type)
            Write(dir + QStringLiteral("/type"), t.type);
        if (t.node) {
            QDir().mkpath(DevRoot());
            Write(DevRoot() + QLatin1Char('/') + QLatin1String(t.name), "");
        }
    }
    QString SysRoot() const { return root_.filePath(QStringLiteral("sys")); }
    QString DevRoot() const { return root_.filePath(QStringLiteral("dev")); }
    QStringList Discover() const { return DiscoverPorts(SysRoot(), DevRoot()); }

private:
    static void Write(const QString& path, const char* text) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QTemporaryDir root_;
};

TEST(DiscoverPorts, ListsRealSerialPortsInNaturalOrder) {
    FakeSystem sys({
        {"ttyUSB10", true, nullptr, true},
        {"ttyUSB2", true, nullptr, true},
        {"ttyUSB0", true, nullptr, true},
        {"ttyACM0", true, nullptr, true},
        {"ttyS0", true, "4\n", true},      // a 16550A on the board
        {"ttyS1", true, "0\n", true},      // no UART behind it
        {"ttyS2", true, nullptr, true},    // type unreadable
        {"ttyS3", false, "4\n", true},     // no device
        {"ttyUSB3", true, nullptr, false}, // no node under /dev (a container)
        {"tty0", false, nullptr, true},    // virtual consoles, other ttys
        {"tty1", true, nullptr, true},
        {"console", false, nullptr, true},
        {"ttyprintk", true, nullptr, true},
        {"ttyUSBx", true, nullptr, true},
    });
    EXPECT_EQ(sys.Discover(),
              (QStringList{QStringLiteral("ttyACM0"), QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0"),
                           QStringLiteral("ttyUSB2"), QStringLiteral("ttyUSB10")}));
}

TEST(DiscoverPorts, SysfsEntriesThatAreSymbolicLinksCount) {
    // In the real /sys, class/tty/<name> is a link into the device tree.
    FakeSystem sys({});
    const QString target = sys.SysRoot() + QStringLiteral("/devices/pci0000:00/usb1/ttyUSB0");
    ASSERT_TRUE(QDir().mkpath(target + QStringLiteral("/device")));
    ASSERT_TRUE(QDir().mkpath(sys.SysRoot() + QStringLiteral("/class/tty")));
    ASSERT_TRUE(QFile::link(target, sys.SysRoot() + QStringLiteral("/class/tty/ttyUSB0")));
    sys.Add({"ttyUSB1", false, nullptr, true}); // makes /dev; ttyUSB1 itself has no device
    QFile node(sys.DevRoot() + QStringLiteral("/ttyUSB0"));
    ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    node.close();
    EXPECT_EQ(sys.Discover(), QStringList{QStringLiteral("ttyUSB0")});
}

TEST(DiscoverPorts, ANameOfTenCharactersEndsTheList) {
    FakeSystem sys({
        {"ttyACM0", true, nullptr, true},
        {"ttyACM1000", true, nullptr, true}, // 10 characters
        {"ttyACM999", true, nullptr, true},  // 9 characters: still fits
        {"ttyUSB0", true, nullptr, true},    // after the long name: lost with it
    });
    EXPECT_EQ(sys.Discover(), (QStringList{QStringLiteral("ttyACM0"), QStringLiteral("ttyACM999")}));
}

TEST(DiscoverPorts, MissingTreeMeansNoPorts) {
    EXPECT_TRUE(
        DiscoverPorts(QStringLiteral("/nonexistent/sys"), QStringLiteral("/nonexistent/dev")).isEmpty());
}

TEST(DiscoverPorts, ExtraPortsComeFirstOnceAndWhateverTheirLength) {
    FakeSystem sys({{"ttyUSB0", true, nullptr, true}, {"ttyUSB1", true, nullptr, true}});
    SetExtraPorts({QStringLiteral("/dev/pts/17"), QStringLiteral("ttyUSB1")});
    const QStringList found = sys.Discover();
    SetExtraPorts({});
    EXPECT_EQ(found, (QStringList{QStringLiteral("/dev/pts/17"), QStringLiteral("ttyUSB1"),
                                  QStringLiteral("ttyUSB0")}));
    EXPECT_EQ(sys.Discover(), (QStringList{QStringLiteral("ttyUSB0"), QStringLiteral("ttyUSB1")}));
}

TEST(PortNameLess, NumbersCompareByValue) {
    const struct {
        const char* a;
        const char* b;
        bool less;
    } cases[] = {
        {"ttyS2", "ttyS10", true},     {"ttyS10", "ttyS2", false},    {"ttyS9", "ttyS9", false},
        {"ttyACM7", "ttyS0", true},    {"ttyS0", "ttyUSB0", true},    {"ttyUSB", "ttyUSB0", true},
        {"ttyUSB1", "ttyUSB01", true}, {"ttyUSB01", "ttyUSB2", true}, {"ttyUSB100", "ttyUSB99", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PortNameLess(QLatin1String(c.a), QLatin1String(c.b)), c.less) << c.a << " < " << c.b;
}

TEST(ChooseStartupPort, FirstPortOrCom0WithIndexZeroAndRate120) {
    const struct {
        QStringList ports;
        const char* expected;
    } cases[] = {
        {{QStringLiteral("ttyUSB3"), QStringLiteral("ttyUSB4")}, "ttyUSB3"},
        {{}, "COM0"},
    };
    for (const auto& c : cases) {
        Settings settings;
        settings.portName = QStringLiteral("stale");
        settings.portIndex = 7;
        settings.samplingRate = 3;
        ChooseStartupPort(settings, [&] { return c.ports; });
        EXPECT_EQ(settings.portName, QLatin1String(c.expected));
        EXPECT_EQ(settings.portIndex, 0);
        EXPECT_EQ(settings.samplingRate, 120);
    }
}

TEST(PortStatusText, NameWithLineSettingsOrNoPort) {
    EXPECT_EQ(PortStatusText(QString()), QStringLiteral("NO PORT"));
    EXPECT_EQ(PortStatusText(QStringLiteral("COM0")), QStringLiteral("COM0,2400,N,8,1"));
    EXPECT_EQ(PortStatusText(QStringLiteral("/dev/pts/4")), QStringLiteral("/dev/pts/4,2400,N,8,1"));
}

} // namespace
} // namespace zelvox
