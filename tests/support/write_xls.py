#!/usr/bin/python3
"""Writes an .xls workbook for the tests with xlwt, an independent writer.

Usage: write_xls.py OUT.xls < spec.json
spec: {"sheets": [{"name": "KINV_MT_ITEM", "rows": [["ItemCode", "ItemName"], ["A1", 1.5]]}]}
A cell is a JSON string (text), number, null (left empty), or {"date": "YYYY-MM-DD"} /
{"datetime": "YYYY-MM-DDTHH:MM:SS"} for a date-formatted cell, or {"text": "..."} for a text
cell written as it stands, so that {"text": ""} is a cell holding the empty text (a plain ""
is written as an empty cell).
"""
import datetime
import json
import sys

import xlwt


def main():
    out = sys.argv[1]
    spec = json.load(sys.stdin)
    book = xlwt.Workbook(encoding="utf-8")
    date_style = xlwt.easyxf(num_format_str="YYYY-MM-DD")
    stamp_style = xlwt.easyxf(num_format_str="YYYY-MM-DD HH:MM:SS")
    for sheet in spec["sheets"]:
        ws = book.add_sheet(sheet["name"], cell_overwrite_ok=True)
        for r, row in enumerate(sheet.get("rows", [])):
            for c, cell in enumerate(row):
                if cell is None:
                    continue
                if isinstance(cell, dict) and "date" in cell:
                    ws.write(r, c, datetime.date.fromisoformat(cell["date"]), date_style)
                elif isinstance(cell, dict) and "datetime" in cell:
                    ws.write(r, c, datetime.datetime.fromisoformat(cell["datetime"]), stamp_style)
                elif isinstance(cell, dict) and "text" in cell:
                    ws.row(r).set_cell_text(c, cell["text"])
                else:
                    ws.write(r, c, cell)
    book.save(out)


if __name__ == "__main__":
    main()
