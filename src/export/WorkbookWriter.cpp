#include "export/WorkbookWriter.h"

#include "export/WorkbookModel.h"

#include <QByteArray>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <utility>
#include <vector>
#include <xlsxwriter.h>

namespace zelvox::sheet {

namespace {

// The writer's text for `error`, then where and why when the system gave a reason.
QString WriterMessage(lxw_error error, const QString& where, const QString& reason) {
    QString message = QString::fromUtf8(lxw_strerror(error));
    if (!reason.isEmpty())
        message += QStringLiteral("\n%1: %2").arg(where, reason);
    return message;
}

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

// Writes the sheet's cells in row order, as the constant-memory mode requires: for each row, the
// entered cells and the blanks of formatted ranges, by column. Sets *lastRow to the last row
// that got a cell.
lxw_error WriteCells(lxw_worksheet* out, const Worksheet& sheet, const std::vector<lxw_format*>& formats,
                     int* lastRow) {
    struct Cursor {
        int column;
        std::map<int, CellRun>::const_iterator at, end;
    };
    std::vector<Cursor> cursors; // one per column with entered cells, by column
    for (const auto& [column, runs] : sheet.Columns())
        if (!runs.empty())
            cursors.push_back({column, runs.begin(), runs.end()});
    const std::vector<FormatRange>& ranges = sheet.FormatRanges();

    std::vector<std::pair<int, const CellRun*>> entered; // this row's, by column
    std::vector<int> formatted;                          // columns of this row in formatted ranges
    *lastRow = 0;
    const int last = sheet.LastRow();
    for (int row = 1; row <= last; ++row) {
        entered.clear();
        for (Cursor& cursor : cursors) {
            while (cursor.at != cursor.end && cursor.at->second.LastRow() < row)
                ++cursor.at;
            if (cursor.at != cursor.end && cursor.at->second.firstRow <= row)
                entered.emplace_back(cursor.column, &cursor.at->second);
        }
        formatted.clear();
        for (const FormatRange& f : ranges)
            if (row >= f.range.firstRow && row <= f.range.lastRow)
                for (int column = f.range.firstColumn; column <= f.range.lastColumn; ++column)
                    formatted.push_back(column);
        if (ranges.size() > 1) {
            std::sort(formatted.begin(), formatted.end());
            formatted.erase(std::unique(formatted.begin(), formatted.end()), formatted.end());
        }

        std::size_t e = 0, f = 0;
        while (e < entered.size() || f < formatted.size()) {
            int column = 0;
            const CellRun* run = nullptr;
            if (f == formatted.size() || (e < entered.size() && entered[e].first <= formatted[f])) {
                column = entered[e].first;
                run = entered[e].second;
                if (f < formatted.size() && formatted[f] == column)
                    ++f;
                ++e;
            } else {
                column = formatted[f++];
            }
            const int formatIndex = sheet.FormatAt(row, column);
            lxw_format* format = formatIndex == kGeneral ? nullptr : formats.at(formatIndex);
            const lxw_row_t r = lxw_row_t(row - 1);
            const lxw_col_t c = lxw_col_t(column - 1);
            const std::size_t at = run ? std::size_t(row - run->firstRow) : 0;
            const Cell::Kind kind = run ? run->kinds[at] : Cell::Kind::Blank;
            lxw_error error = LXW_NO_ERROR;
            switch (kind) {
            case Cell::Kind::Number:
                error = worksheet_write_number(out, r, c, run->values[at].number, format);
                break;
            case Cell::Kind::Text:
                error = worksheet_write_string(
                    out, r, c, sheet.TextOf(run->values[at].text).toUtf8().constData(), format);
                break;
            case Cell::Kind::Blank:
                if (!format)
                    continue; // a blank without a format is no cell at all
                error = worksheet_write_blank(out, r, c, format);
                break;
            }
            if (error)
                return error;
            *lastRow = row;
        }
    }
    return LXW_NO_ERROR;
}

} // namespace

bool WriteWorkbookFile(const Workbook& book, const QString& path, const QString& scratchDir,
                       std::vector<int>* lastRows, QString* message) {
    const QByteArray file = path.toLocal8Bit();
    QByteArray tmpdir = scratchDir.toLocal8Bit();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmpdir.isEmpty() ? nullptr : tmpdir.data();
    options.use_zip64 = LXW_FALSE;
    errno = 0;
    lxw_workbook* out = workbook_new_opt(file.constData(), &options);
    if (!out) {
        const int system = errno;
        *message = WriterMessage(LXW_ERROR_CREATING_XLSX_FILE, path, WriteFailureReason(system, scratchDir));
        return false;
    }

    std::vector<lxw_format*> formats;
    for (int i = 0; i < book.FormatCount(); ++i) {
        lxw_format* format = workbook_add_format(out);
        format_set_num_format(format, book.FormatCode(i).toUtf8().constData());
        formats.push_back(format);
    }

    lastRows->assign(std::size_t(book.SheetCount()), 0);
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
        // Cells first: a formatted column widens the span of columns the writer walks for
        // every row it flushes.
        error = WriteCells(sheetOut, sheet, formats, &(*lastRows)[std::size_t(s)]);
        if (!error)
            error = WriteColumns(sheetOut, sheet, sheetFormat);
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
    errno = 0;
    error = workbook_close(out);
    if (error) {
        const int system = errno;
        *message = WriterMessage(error, error == LXW_ERROR_CREATING_TMPFILE ? scratchDir : path,
                                 WriteFailureReason(system, scratchDir));
        return false;
    }
    return true;
}

QString WriteFailureReason(int error, const QString& folder, qint64 bytesWritten) {
    if (error != 0)
        return QString::fromLocal8Bit(std::strerror(error));
    struct statvfs space {};
    if (!folder.isEmpty() && statvfs(folder.toLocal8Bit().constData(), &space) == 0 && space.f_bavail == 0)
        return QString::fromLocal8Bit(std::strerror(ENOSPC));
    rlimit limit{};
    if (bytesWritten >= 0 && getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        quint64(bytesWritten) >= quint64(limit.rlim_cur))
        return QString::fromLocal8Bit(std::strerror(EFBIG));
    return {};
}

} // namespace zelvox::sheet
