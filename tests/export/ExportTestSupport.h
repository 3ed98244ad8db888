// Helpers for the export tests: closing modal boxes and dialogs from a timer, scratch folders,
// file-size limits that make writes fail (the tests run as root, so permissions cannot, short of
// a child process that drops to an unprivileged user), and reading a workbook back with an
// independent reader.
#pragma once

#include "panes/ControlPanel.h"
#include "panes/ReadingsTable.h"
#include "support/PaneHub.h"

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

// A hub that keeps every status text and whether acquisition was paused when it was set.
struct RecordingHub : PaneHub {
    QStringList texts;
    std::vector<int> pausedAt;
    void SetStatusText(int pane, const QString& text) override {
        PaneHub::SetStatusText(pane, text);
        texts << QStringLiteral("%1:%2").arg(pane).arg(text);
        pausedAt.push_back(panel ? panel->acquisition().paused.load() : -1);
    }
};

// A readings table wired into a recording hub, and a scratch folder for the files written.
struct TableExportFixture : ::testing::Test {
    RecordingHub hub;
    std::unique_ptr<ReadingsTable> table = std::make_unique<ReadingsTable>(&hub);
    QTemporaryDir dir;
    void SetUp() override {
        hub.data = table.get();
        ASSERT_TRUE(dir.isValid());
    }
};

// Watches for modal message boxes and file dialogs while a command runs and answers them:
// message boxes are recorded and closed with OK; a file dialog is recorded and handed to
// `onFileDialog` (which accepts or rejects it).
class ModalWatcher {
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon;
    };
    struct FileDialog {
        QStringList nameFilters;
        bool confirmsOverwrite;
        QFileDialog::AcceptMode mode;
    };
    std::vector<Box> boxes;
    std::vector<FileDialog> dialogs;
    std::function<void(QFileDialog*)> onFileDialog = [](QFileDialog* d) { d->reject(); };
    // The button that closes a message box (a question is answered with it too).
    QMessageBox::StandardButton answer = QMessageBox::Ok;

    ModalWatcher() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }

private:
    void Poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible())
                continue;
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                boxes.push_back({box->windowTitle(), box->text(), box->icon()});
                box->done(answer);
                return;
            }
            if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
                if (fileDialogBusy_)
                    continue;
                dialogs.push_back({dialog->nameFilters(),
                                   !dialog->testOption(QFileDialog::DontConfirmOverwrite),
                                   dialog->acceptMode()});
                // Answered from the event loop, not from this timer: accepting may open a nested
                // question, and a timer does not fire again while its own handler runs.
                fileDialogBusy_ = true;
                QPointer<QFileDialog> guard(dialog);
                QTimer::singleShot(0, &timer_, [this, guard] {
                    if (guard)
                        onFileDialog(guard);
                    fileDialogBusy_ = false;
                });
                return;
            }
        }
    }
    QTimer timer_;
    bool fileDialogBusy_ = false;
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
