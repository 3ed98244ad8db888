#include "export/WorkbookExport.h"

#include "dialogs/SaveFileDialog.h"
#include "export/SpreadsheetAutomation.h"
#include "session/MeterSession.h"
#include "session/ReadingsModel.h"

#include <QFileDialog>
#include <array>

namespace zelvox {

namespace {

// The sheet's data start under the header, and the column formats reach one row past the data:
// this many table rows fit on one sheet.
constexpr int kMostRowsOnASheet = sheet::kMaxRows - 2;

const QString kFailedText = QStringLiteral("save excel file error");

struct ColumnPlan {
    QChar letter;
    QString format;
    const char* doneText; // status text after the column, or null
};

// Header, then `rows` table rows column by column, then fitting. Throws AutomationFailure.
void FillSheet(SpreadsheetAutomation& excel, const ProgressText& progress, const ReadingsModel& readings,
               int rows) {
    excel.AddSheet(QStringLiteral("KX-NOVA"));
    excel.SetNumberFormat(SpreadsheetAutomation::TextFormat());
    const std::array<QString, 4> header = {QStringLiteral("Index"), QStringLiteral("Value"),
                                           QStringLiteral("Type"), QStringLiteral("Time")};
    for (int column = 0; column < 4; ++column)
        excel.SetItem(1, column + 1, header[column]);

    const int last = rows + 2;
    const std::array<ColumnPlan, 4> plan = {{
        {u'A', SpreadsheetAutomation::DecimalFormat(0), "finish 25%,please wait..."},
        {u'B', SpreadsheetAutomation::DecimalFormat(3), "finish 50%,please wait..."},
        {u'C', SpreadsheetAutomation::TextFormat(), "finish 75%,please wait..."},
        {u'D', SpreadsheetAutomation::TextFormat(), nullptr},
    }};
    for (int column = 0; column < 4; ++column) {
        const ColumnPlan& step = plan[column];
        excel.SelectRange(QString(step.letter) + u'2', QString(step.letter) + QString::number(last));
        excel.SetNumberFormat(step.format);
        for (int row = 0; row < rows; ++row)
            excel.SetItem(row + 1, 1, readings.CellText(row, column));
        if (step.doneText)
            progress(QString::fromLatin1(step.doneText));
    }
    excel.SelectAllCells();
    excel.AutoFitColumns();
}

} // namespace

void SaveExcelFile(MeterSession& session, const ProgressText& progress, QWidget* parent,
                   const QString& chosenPath) {
    SpreadsheetAutomation excel(parent);
    if (chosenPath.isEmpty())
        return;
    // The extension is always added, whatever the chosen name ends with.
    const QString path = chosenPath + QStringLiteral(".xls");
    if (!excel.Open())
        return;

    WorkerPause pause = session.PauseWorkers();
    const ReadingsModel& readings = session.Readings();
    // Taken once, while paused: rows added later are not exported.
    const int rows = readings.Count();
    if (rows > kMostRowsOnASheet) {
        // Said before anything is written, instead of failing on a range past the sheet's end.
        excel.Shutdown();
        pause.Release();
        progress(kFailedText);
        ShowErrorBox(parent,
                     QStringLiteral("The table has %1 rows, but one worksheet takes at most %2 of them "
                                    "under its header.\nSAVE TEXT FILE saves all rows.")
                         .arg(rows)
                         .arg(kMostRowsOnASheet));
        return;
    }
    progress(QStringLiteral("start to save excel,please wait..."));
    try {
        FillSheet(excel, progress, readings, rows);
        excel.SaveWorkbook(path);
    } catch (const AutomationFailure& failure) {
        excel.Shutdown();
        pause.Release();
        // A run that failed must not look like one still working.
        progress(kFailedText);
        ShowErrorBox(parent, failure.Description().isEmpty() ? QStringLiteral("Command failed.")
                                                             : failure.Description());
        return;
    }
    progress(QStringLiteral("save excel file successfully"));
    pause.Release();
    excel.Shutdown();
}

void SaveExcelFileCommand(MeterSession& session, const ProgressText& progress, QWidget* parent) {
    const QString chosen =
        GetSaveFileName(parent, QStringLiteral("EXCEL(*.xls)"), QFileDialog::DontConfirmOverwrite);
    SaveExcelFile(session, progress, parent, chosen);
}

} // namespace zelvox
