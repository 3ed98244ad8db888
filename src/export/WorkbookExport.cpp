#include "export/WorkbookExport.h"

#include "export/ExportSupport.h"
#include "export/SpreadsheetAutomation.h"
#include "panes/PaneLinks.h"
#include "panes/ReadingsTable.h"

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
void FillSheet(SpreadsheetAutomation& excel, PaneLinks& links) {
    excel.AddSheet(QStringLiteral("KX-NOVA"));
    excel.SetNumberFormat(SpreadsheetAutomation::TextFormat());
    const std::array<QString, 4> header = {QStringLiteral("Index"), QStringLiteral("Value"),
                                           QStringLiteral("Type"), QStringLiteral("Time")};
    for (int column = 0; column < 4; ++column)
        excel.SetItem(1, column + 1, header[column]);

    const ReadingsTable* table = links.TablePane();
    const int rows = table ? table->RowCount() : 0; // taken once: later rows are not exported
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
            excel.SetItem(row + 1, 1, table->CellText(row, column));
        if (step.doneText)
            links.SetStatusText(3, QString::fromLatin1(step.doneText));
    }
    excel.SelectAllCells();
    excel.AutoFitColumns();
}

} // namespace

void SaveExcelFile(PaneLinks& links, QWidget* parent, const QString& chosenPath) {
    SpreadsheetAutomation excel(parent);
    if (chosenPath.isEmpty())
        return;
    // The extension is always added, whatever the chosen name ends with.
    const QString path = chosenPath + QStringLiteral(".xls");
    if (!excel.Open())
        return;

    ExportPause pause(links);
    links.SetStatusText(3, QStringLiteral("start to save excel,please wait..."));
    try {
        FillSheet(excel, links);
        excel.SaveWorkbook(path);
    } catch (const AutomationFailure& failure) {
        excel.Shutdown();
        pause.Release();
        ShowErrorBox(parent, failure.Description().isEmpty() ? QStringLiteral("Command failed.")
                                                             : failure.Description());
        return;
    }
    links.SetStatusText(3, QStringLiteral("save excel file successfully"));
    pause.Release();
    excel.Shutdown();
}

void SaveExcelFileCommand(PaneLinks& links, QWidget* parent) {
    const QString chosen =
        QFileDialog::getSaveFileName(parent, QString(), QString(), QStringLiteral("EXCEL(*.xls)"), nullptr,
                                     QFileDialog::DontConfirmOverwrite);
    SaveExcelFile(links, parent, chosen);
}

} // namespace zelvox
