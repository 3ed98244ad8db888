#include "export/WorkbookExport.h"

#include "export/SpreadsheetAutomation.h"
#include "session/MeterSession.h"
#include "session/ReadingsModel.h"

#include <QFileDialog>
#include <array>

namespace zelvox {

namespace {

struct ColumnPlan {
    QChar letter;
    QString format;
    const char* doneText; // status text after the column, or null
};

// Header, then the table column by column, then fitting. Throws AutomationFailure.
void FillSheet(SpreadsheetAutomation& excel, const ReadingsModel& readings, const ProgressText& progress) {
    excel.AddSheet(QStringLiteral("KX-NOVA"));
    excel.SetNumberFormat(SpreadsheetAutomation::TextFormat());
    const std::array<QString, 4> header = {QStringLiteral("Index"), QStringLiteral("Value"),
                                           QStringLiteral("Type"), QStringLiteral("Time")};
    for (int column = 0; column < 4; ++column)
        excel.SetItem(1, column + 1, header[column]);

    const int rows = readings.Count(); // taken once: later rows are not exported
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
    progress(QStringLiteral("start to save excel,please wait..."));
    try {
        FillSheet(excel, session.Readings(), progress);
        excel.SaveWorkbook(path);
    } catch (const AutomationFailure& failure) {
        excel.Shutdown();
        pause.Release();
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
        QFileDialog::getSaveFileName(parent, QString(), QString(), QStringLiteral("EXCEL(*.xls)"), nullptr,
                                     QFileDialog::DontConfirmOverwrite);
    SaveExcelFile(session, progress, parent, chosen);
}

} // namespace zelvox
