"""Prints a workbook as JSON, read by openpyxl: sheet names in order, the active sheet, and for
every sheet its cells (value, data type, number format) and column descriptions.

openpyxl refuses file names that do not end in .xlsx, so the file is handed over as an open
file object; what counts is its content."""
import json
import sys

import openpyxl

with open(sys.argv[1], "rb") as handle:
    book = openpyxl.load_workbook(handle)

result = {"sheets": book.sheetnames, "active": book.active.title, "detail": {}}
for sheet in book.worksheets:
    cells = {}
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None and cell.number_format == "General":
                continue
            cells[cell.coordinate] = {
                "value": cell.value,
                "type": cell.data_type,
                "format": cell.number_format,
            }
    columns = []
    for key, dim in sorted(sheet.column_dimensions.items(), key=lambda kv: kv[1].min or 0):
        columns.append({
            "min": dim.min,
            "max": dim.max,
            "width": dim.width,
            "custom": bool(dim.customWidth),
            "format": dim.number_format,
        })
    result["detail"][sheet.title] = {"cells": cells, "columns": columns}

json.dump(result, sys.stdout)
