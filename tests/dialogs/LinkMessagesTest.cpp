// The link's message boxes for a failed START: texts, captions and the detailed reasons.
#include "dialogs/LinkMessages.h"
#include "dialogs/ModalProbe.h"
#include "link/Acquisition.h"

#include <QWidget>
#include <cerrno>
#include <gtest/gtest.h>

namespace zelvox {
namespace {

using namespace zelvox::testing;

TEST(StartFailureMessages, TextsCaptionsAndDetails) {
    using S = Acquisition::StartStatus;
    const struct {
        Acquisition::StartResult result;
        const char* text;
        const char* caption;
        const char* detailPart; // nullptr: no detailed text
    } cases[] = {
        {{S::PortAlreadyOpen, {}, 0}, "please close port fist", "please close port fist", nullptr},
        {{S::OpenPortFailed, QStringLiteral("Permission denied"), EACCES},
         "open port error",
         "error",
         "dialout"},
        {{S::OpenPortFailed, QStringLiteral("No such file or directory"), ENOENT},
         "open port error",
         "error",
         "No such file or directory"},
        {{S::OpenPortFailed, QStringLiteral("Device or resource busy"), EBUSY},
         "open port error",
         "error",
         "Device or resource busy"},
        {{S::ThreadFailed, {}, 0}, "open thread error,try again", "error", nullptr},
    };
    QWidget owner;
    for (const auto& c : cases) {
        SeenBox seen;
        ModalProbe probe(RecordBox(&seen));
        ShowStartFailure(&owner, c.result);
        ASSERT_TRUE(seen.seen) << c.text;
        EXPECT_EQ(seen.text, QString::fromLatin1(c.text));
        EXPECT_EQ(seen.caption, QString::fromLatin1(c.caption));
        EXPECT_TRUE(seen.hadOwner);
        if (c.detailPart) {
            EXPECT_TRUE(seen.detail.contains(QString::fromLatin1(c.detailPart))) << seen.detail.toStdString();
            EXPECT_TRUE(seen.detail.startsWith(c.result.reason));
        } else {
            EXPECT_TRUE(seen.detail.isEmpty());
        }
    }
    // Only a permission problem gets the group hint.
    SeenBox busy;
    {
        ModalProbe probe(RecordBox(&busy));
        ShowStartFailure(&owner, {S::OpenPortFailed, QStringLiteral("Device or resource busy"), EBUSY});
    }
    EXPECT_FALSE(busy.detail.contains(QStringLiteral("dialout")));
}

} // namespace
} // namespace zelvox
