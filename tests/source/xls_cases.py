#!/usr/bin/python3
"""Writes the .xls workbook of the reader tests to stdout with xlwt, an independent writer.

Sheets: "Kinds" (one row per kind of cell, see xls_reader_test.cpp), "Versteckt ü" (hidden),
"Данные" (enough distinct texts that the string table runs over many CONTINUE records) and
"Empty".
"""
import datetime
import io
import sys

import xlwt


def main():
    book = xlwt.Workbook(encoding="utf-8")
    ws = book.add_sheet("Kinds")
    hidden = book.add_sheet("Versteckt ü")
    hidden.visibility = 1
    data = book.add_sheet("Данные")
    book.add_sheet("Empty")

    texts = ["plain", "café", "日本語", "😀 emoji"]
    for c, t in enumerate(texts):
        ws.write(0, c, t)
    ws.row(0).set_cell_text(4, "")
    ws.write(0, 5, [("bold", xlwt.Font()), "normal"])

    for c, n in enumerate([1, -7, 2.5, 0.1, 1e300, 123456.789, -536870912, 536870912]):
        ws.write(1, c, n)

    ws.write(2, 0, True)
    ws.write(2, 1, False)
    ws.row(2).set_cell_error(2, "#DIV/0!")
    ws.row(2).set_cell_error(3, 0x2A)
    ws.write(2, 4, None)
    ws.write(2, 5, 9)

    day = datetime.date(2024, 1, 31)
    formats = ["YYYY-MM-DD", "M/D/YY", "h:mm", "[h]:mm:ss", "0.00", '"Day" 0', "General", "@"]
    for c, f in enumerate(formats):
        ws.write(3, c, day, xlwt.easyxf(num_format_str=f))

    ws.write(4, 0, "x" * 32766 + "Ω")
    ws.write(4, 1, "y" * 32767)

    for c in range(10):
        ws.write(5, c, c * 3)

    for r in range(3000):
        data.write(r, 0, "Zeile %d – ü" % r if r % 2 else "row %d" % r)
        data.write(r, 1, r)

    out = io.BytesIO()
    book.save(out)
    sys.stdout.buffer.write(out.getvalue())


if __name__ == "__main__":
    main()
