#include "export/WorkbookWriter.h"

#include "export/WorkbookModel.h"

#include <QByteArray>
#include <vector>
#include <xlsxwriter.h>

namespace zelvox::sheet {

namespace {

// The columns of one sheet: fitted widths, and the sheet's own format on every column.
lxw_error WriteColumns(lxw_worksheet* out, const Worksheet& sheet, lxw_format* sheetFormat) {
    int next = 1; // first column not yet described
    const auto describe = [&](int first, int last, double width) -> lxw_error {
        if (first > last)
            return LXW_NO_ERROR;
        return worksheet_set_column(out, lxw_col_t(first - 1), lxw_col_t(last - 1), width, sheetFormat);
    };
    for (const auto& [column, width] : sheet.ColumnWidths()) {
        if (sheetFormat) {
            if (const lxw_error error = describe(next, column - 1, LXW_DEF_COL_WIDTH))
                return error;
        }
        if (const lxw_error error = describe(column, column, width))
            return error;
        next = column + 1;
    }
    if (sheetFormat)
        return describe(next, kMaxColumns, LXW_DEF_COL_WIDTH);
    return LXW_NO_ERROR;
}

lxw_error WriteCells(lxw_worksheet* out, const Worksheet& sheet, const std::vector<lxw_format*>& formats) {
    for (const auto& [key, cell] : sheet.Cells()) {
        const lxw_row_t row = lxw_row_t(Worksheet::RowOf(key) - 1);
        const lxw_col_t column = lxw_col_t(Worksheet::ColumnOf(key) - 1);
        lxw_format* format = cell.format == kGeneral ? nullptr : formats.at(cell.format);
        lxw_error error = LXW_NO_ERROR;
        switch (cell.kind) {
        case Cell::Kind::Number:
            error = worksheet_write_number(out, row, column, cell.number, format);
            break;
        case Cell::Kind::Text:
            error = worksheet_write_string(out, row, column, cell.text.toUtf8().constData(), format);
            break;
        case Cell::Kind::Blank:
            if (format)
                error = worksheet_write_blank(out, row, column, format);
            break;
        }
        if (error)
            return error;
    }
    return LXW_NO_ERROR;
}

} // namespace

bool WriteWorkbookFile(const Workbook& book, const QString& path, const QString& scratchDir,
                       QString* message) {
    const QByteArray file = path.toLocal8Bit();
    QByteArray tmpdir = scratchDir.toLocal8Bit();
    lxw_workbook_options options{};
    options.constant_memory = LXW_FALSE;
    options.tmpdir = tmpdir.isEmpty() ? nullptr : tmpdir.data();
    options.use_zip64 = LXW_FALSE;
    lxw_workbook* out = workbook_new_opt(file.constData(), &options);
    if (!out) {
        *message = QString::fromUtf8(lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED));
        return false;
    }

    std::vector<lxw_format*> formats;
    for (int i = 0; i < book.FormatCount(); ++i) {
        lxw_format* format = workbook_add_format(out);
        format_set_num_format(format, book.FormatCode(i).toUtf8().constData());
        formats.push_back(format);
    }

    lxw_error error = LXW_NO_ERROR;
    for (int s = 0; s < book.SheetCount() && !error; ++s) {
        const Worksheet& sheet = book.Sheet(s);
        lxw_worksheet* sheetOut = workbook_add_worksheet(out, sheet.Name().toUtf8().constData());
        if (!sheetOut) {
            error = LXW_ERROR_SHEETNAME_ALREADY_USED;
            break;
        }
        lxw_format* sheetFormat =
            sheet.DefaultFormat() == kGeneral ? nullptr : formats.at(sheet.DefaultFormat());
        error = WriteColumns(sheetOut, sheet, sheetFormat);
        if (!error)
            error = WriteCells(sheetOut, sheet, formats);
        if (s == book.ActiveSheet())
            worksheet_activate(sheetOut);
    }
    if (error) {
        // Nothing useful can be saved; closing still frees the writer (and writes a file the
        // caller throws away).
        workbook_close(out);
        *message = QString::fromUtf8(lxw_strerror(error));
        return false;
    }
    error = workbook_close(out);
    if (error) {
        *message = QString::fromUtf8(lxw_strerror(error));
        return false;
    }
    return true;
}

} // namespace zelvox::sheet
