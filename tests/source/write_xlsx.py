#!/usr/bin/python3
"""Writes an .xlsx workbook for the tests with openpyxl, an independent writer.

Usage: write_xlsx.py OUT.xlsx < layout.json
layout: {"sheets": [{"name": "S", "state": "hidden", "rows": [["Code", 1.5]]}],
       "write_only": false, "date1904": false}
A cell is a JSON string (text), number, true/false, null (left empty), or an object:
{"date": "YYYY-MM-DD"}, {"datetime": "YYYY-MM-DDTHH:MM:SS"}, {"time": "HH:MM:SS"} for a
date-formatted cell; {"number": 0.5, "format": "0.00%"} for a number with a number format;
{"formula": "=1+1"} for a formula (openpyxl stores no result for it).
"""
import datetime
import json
import sys

import openpyxl
from openpyxl.cell import WriteOnlyCell
from openpyxl.utils.datetime import CALENDAR_MAC_1904


def value(cell):
    if isinstance(cell, dict):
        if "date" in cell:
            return datetime.date.fromisoformat(cell["date"]), None
        if "datetime" in cell:
            return datetime.datetime.fromisoformat(cell["datetime"]), None
        if "time" in cell:
            return datetime.time.fromisoformat(cell["time"]), None
        if "number" in cell:
            return cell["number"], cell.get("format")
        if "formula" in cell:
            return cell["formula"], None
        raise ValueError("unknown cell %r" % cell)
    return cell, None


def main():
    out = sys.argv[1]
    layout = json.load(sys.stdin)
    write_only = layout.get("write_only", False)
    book = openpyxl.Workbook(write_only=write_only)
    if layout.get("date1904"):
        book.epoch = CALENDAR_MAC_1904
    if not write_only:
        book.remove(book.active)
    for sheet in layout["sheets"]:
        ws = book.create_sheet(sheet["name"])
        if "state" in sheet:
            ws.sheet_state = sheet["state"]
        for r, row in enumerate(sheet.get("rows", [])):
            if write_only:
                cells = []
                for cell in row:
                    v, fmt = value(cell)
                    c = WriteOnlyCell(ws, value=v)
                    if fmt:
                        c.number_format = fmt
                    cells.append(c)
                ws.append(cells)
                continue
            for c, cell in enumerate(row):
                if cell is None:
                    continue
                v, fmt = value(cell)
                target = ws.cell(row=r + 1, column=c + 1, value=v)
                if fmt:
                    target.number_format = fmt
    book.save(out)


if __name__ == "__main__":
    main()
