// The readings journal in the program: the table's rows go to the journal as they are shown, and
// --load brings a journal back into the table.
#include "app/MainWindow.h"
#include "app/ZelvoxApplication.h"
#include "decode/FrameEncoder.h"
#include "panes/ControlPanel.h"
#include "panes/ReadingsTable.h"
#include "record/ReadingRecord.h"
#include "res/ControlIds.h"
#include "support/Pty.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace zelvox;

namespace {

QStringList TableRows(MainWindow* window) {
    QStringList rows;
    for (int r = 0; r < window->TablePane()->RowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < 4; ++c)
            cells << window->TablePane()->CellText(r, c);
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

} // namespace

TEST(AppJournal, TableRowsAreJournaledAndLoadBringsThemBack) {
    QTemporaryDir dir;
    zelvox::testing::Pty pty;
    ASSERT_TRUE(pty.ok());
    CommandLine options;
    options.port = pty.SlavePath();
    options.journalDir = dir.path();
    QStringList shown;
    {
        ZelvoxApplication app;
        ASSERT_TRUE(app.InitInstance(options));
        QPointer<MainWindow> window = app.Window();
        window->PanelPane()->findChild<QPushButton*>(QString::number(kStartButton))->click();
        const Frame f = *EncodeReading("-1.234", 1);
        for (int i = 0; i < 250 && window->TablePane()->RowCount() < 3; ++i) {
            pty.Write(f);
            QTest::qWait(20);
        }
        ASSERT_GE(window->TablePane()->RowCount(), 3);
        window->PanelPane()->findChild<QPushButton*>(QString::number(kStopButton))->click();
        shown = TableRows(window);
        window->close();
        QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 3000);
    }
    const QStringList journals = QDir(dir.path()).entryList({QStringLiteral("*.csv")}, QDir::Files);
    ASSERT_EQ(journals.size(), 1);
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral(".*.open")}, QDir::Files | QDir::Hidden).isEmpty())
        << "the run ended cleanly";
    const QString path = dir.filePath(journals[0]);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto records = ParseCsv(file.readAll().toStdString());
    ASSERT_EQ(records.size(), static_cast<std::size_t>(shown.size()) + 1);
    for (int i = 0; i < shown.size(); ++i) {
        const auto& f = records[static_cast<std::size_t>(i) + 1];
        EXPECT_EQ(QString::fromStdString(f[1] + "|" + f[2] + "|" + f[3] + "|" + f[4]), shown[i]);
        EXPECT_EQ(f[5], "-1.234");
    }

    options.port.clear();
    options.load = path;
    ZelvoxApplication app;
    ASSERT_TRUE(app.InitInstance(options));
    EXPECT_EQ(TableRows(app.Window()), shown);
    EXPECT_TRUE(app.Window()->StatusText(3).startsWith(QStringLiteral("Loaded %1 rows").arg(shown.size())))
        << app.Window()->StatusText(3).toStdString();
}
