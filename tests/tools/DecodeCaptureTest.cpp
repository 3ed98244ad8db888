// Runs the zelvox-decode tool built beside the tests on a capture file.
#include "decode/FrameEncoder.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace zelvox {
namespace {

const std::string kTool = std::string(ZELVOX_BINARY_DIR) + "/tools/zelvox-decode";

struct RunResult {
    int exitCode = -1;
    std::string out;
};

RunResult RunTool(const std::string& args) {
    RunResult r;
    std::FILE* p = ::popen((kTool + " " + args + " 2>/dev/null").c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

class DecodeTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access(kTool.c_str(), X_OK) != 0)
            GTEST_SKIP() << "zelvox-decode is not built";
        char name[] = "/tmp/zelvox-decode-test-XXXXXX";
        const int fd = ::mkstemp(name);
        ASSERT_GE(fd, 0);
        ::close(fd);
        path_ = name;
    }
    void TearDown() override {
        if (!path_.empty())
            std::remove(path_.c_str());
    }
    std::string path_;
};

TEST_F(DecodeTool, PrintsFiveFieldsPerAcceptedFrame) {
    std::vector<std::uint8_t> bytes = {0x00, 0x42, 0xA5, 0x01}; // noise and a false start
    auto add = [&](const char* text, int fc) {
        const Frame f = *EncodeReading(text, fc);
        bytes.insert(bytes.end(), f.begin(), f.end());
    };
    add("1.23", 0); // swallowed by the false start above
    add("1.23", 0);
    add("-0.000", 1);
    add("0L", 12);
    add("-0L", 23);
    add("-123.4", 10);
    add("7", 26);
    {
        std::ofstream out(path_, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    const std::string expected = "1.23\t2\t0\tno define\t1.23\n"
                                 "-0\t1\t1\tDCV V\t-0.000\n"
                                 "999999\t0\t12\tOHM K\xCE\xA9\t0L\n"
                                 "-999999\t0\t23\tTMP \xE2\x84\x83\t-0L\n"
                                 "-123.40000000000001\t3\t10\tACA uA\t-123.4\n"
                                 "7\t0\t26\t\xC2\xB0\t7\n";
    const RunResult fromFile = RunTool(path_);
    EXPECT_EQ(fromFile.exitCode, 0);
    EXPECT_EQ(fromFile.out, expected);
    const RunResult fromStdin = RunTool("- < " + path_);
    EXPECT_EQ(fromStdin.exitCode, 0);
    EXPECT_EQ(fromStdin.out, expected);
}

TEST_F(DecodeTool, FailsOnUnreadableInput) {
    EXPECT_EQ(RunTool(path_ + ".missing").exitCode, 1);
    EXPECT_EQ(RunTool("/").exitCode, 1) << "a directory cannot be read";
    const RunResult empty = RunTool(path_);
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out, "");

    // Hostile command lines and outputs: status 2, the reason on the last line, at most a
    // one-line pointer to --help before it (timeout ends a hang with 124).
    const struct {
        std::string shell; // arguments and redirections
        const char* lastLine;
    } cases[] = {
        {"- <&-", "zelvox-decode: standard input is closed"},
        {path_ + " >&-", "zelvox-decode: standard output is closed"},
        {"--format csv " + path_ + " >/dev/full",
         "zelvox-decode: cannot write output: No space left on device"},
        {"--bogus " + path_, "zelvox-decode: Unknown option 'bogus'."},
        {"--rate", "zelvox-decode: Missing value after '--rate'."},
        {"--format xml " + path_, "zelvox-decode: unknown format 'xml' (text, csv or jsonl)"},
        {"--rate 0 --port ttyS0", "zelvox-decode: --rate takes 1 to 120 readings per minute"},
        {"--port '' ", "zelvox-decode: --port needs a value"},
        {path_ + " " + path_, "zelvox-decode: more than one input given"},
        {"--mqtt-discovery --port ttyS0",
         "zelvox-decode: the --mqtt-..., --journal-dir and --keep-... options need --mqtt"},
        {"", "zelvox-decode: no input given"},
        {"--port ttyS0 --alarm 'high: abve 4.2'",
         "zelvox-decode: --alarm 'high: abve 4.2': column 7: unknown condition \"abve\" (above, below, "
         "outside, overload, silent, unchanged or unplugged)"},
        {"--alarm 'high: above 4.2' " + path_,
         "zelvox-decode: --alarm, --alarms and --alarm-exec need --port"},
    };
    // Under systemd the same reason is the service's status text, sent on $NOTIFY_SOCKET.
    const std::string notify = path_ + ".notify";
    const int sink = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, notify.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(sink, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0) << notify;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shell);
        std::FILE* p =
            ::popen(("NOTIFY_SOCKET=" + notify + " timeout 10 " + kTool + " 2>&1 " + c.shell).c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string said;
        char buf[512];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            said.append(buf, n);
        const int status = ::pclose(p);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
        EXPECT_TRUE(said == std::string(c.lastLine) + "\n" ||
                    said == "zelvox-decode: see zelvox-decode --help\n" + std::string(c.lastLine) + "\n")
            << said;
        char text[512];
        const ssize_t n = ::recv(sink, text, sizeof text, MSG_DONTWAIT);
        // A failed output is no start-up fault: the run had begun.
        EXPECT_EQ(std::string(text, static_cast<std::size_t>(std::max<ssize_t>(n, 0))),
                  c.shell.ends_with("/dev/full") ? std::string()
                                                 : "STATUS=" + std::string(c.lastLine).substr(15));
    }
    ::close(sink);
}

} // namespace
} // namespace zelvox
