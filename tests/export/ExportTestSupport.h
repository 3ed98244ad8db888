// Helpers for the export tests: closing modal boxes and dialogs from a timer, scratch folders,
// file-size limits that make writes fail (the tests run as root, so permissions cannot, short of
// a child process that drops to an unprivileged user), and reading a workbook back with an
// independent reader.
#pragma once

#include "panes/ReadingsTable.h"
#include "support/ModalWatcher.h"
#include "support/SessionHub.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace zelvox::testing {

// A hub that keeps every progress text (as "3:text", the status pane it goes to) and whether
// the session's workers were paused when it was set.
struct RecordingHub : SessionHub {
    QStringList texts;
    std::vector<int> pausedAt;
    void Progress(const QString& text) override {
        SessionHub::Progress(text);
        texts << QStringLiteral("3:%1").arg(text);
        pausedAt.push_back(session.Paused() ? 1 : 0);
    }
};

// A session whose readings the table shows, and a scratch folder for the files written.
struct TableExportFixture : ::testing::Test {
    RecordingHub hub;
    std::unique_ptr<ReadingsTable> table = MakeTable(hub);
    QTemporaryDir dir;
    const ReadingsModel& readings() const { return hub.session.Readings(); }
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
};

// Chooses `path` in a file dialog and accepts it.
inline std::function<void(QFileDialog*)> ChoosePath(const QString& path) {
    return [path](QFileDialog* dialog) {
        // Typed into the name field: selectFile leaves the field alone once it has the focus.
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(path);
        else
            dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection); // checks and closes
    };
}

// A path whose folder cannot exist: it lies under a regular file.
inline QString UncreatablePath(const QTemporaryDir& dir, const QString& name) {
    const QString blocker = dir.filePath(QStringLiteral("plain-file"));
    QFile file(blocker);
    if (file.open(QIODevice::WriteOnly))
        file.write("x");
    return blocker + QStringLiteral("/sub/") + name;
}

// While alive, files this process writes cannot grow beyond `bytes` (writes fail with EFBIG
// instead of raising SIGXFSZ).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The workbook at `path` as read by openpyxl (Debian's python3-openpyxl): see read_workbook.py.
// Empty on failure, with the reader's complaint in *error.
inline QJsonObject ReadWorkbook(const QString& path, QString* error) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(ZELVOX_SOURCE_DIR "/tests/export/read_workbook.py"), path});
    python.waitForFinished(120000);
    const QByteArray out = python.readAllStandardOutput();
    *error = QString::fromUtf8(python.readAllStandardError());
    if (python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(out).object();
}

} // namespace zelvox::testing
