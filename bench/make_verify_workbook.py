#!/usr/bin/python3
"""Writes the item workbook the verification benchmark reads, with xlwt.

Usage: make_verify_workbook.py OUT.xls [ROWS [DATE_COLUMNS]]
One sheet KINV_MT_ITEM of 80 columns (ItemCode, ItemName, PluCode, Price, then numbers and
texts, DATE_COLUMNS of them dates, none by default as in an item sheet) and ROWS data rows (65535 by default, the
format's limit under a header row).
In every hundred rows: one row repeats the code of the row before it under another PLU code
(a duplicated code), one repeats both its code and PLU code (a repeated PLU pair), and one
has a code with a blank or an apostrophe in it (an invalid code).
"""
import datetime
import sys

import xlwt

COLUMNS = 80


def main():
    out = sys.argv[1]
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 65535
    date_columns = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    book = xlwt.Workbook(encoding="utf-8")
    ws = book.add_sheet("KINV_MT_ITEM")
    date_style = xlwt.easyxf(num_format_str="YYYY-MM-DD")
    header = ["ItemCode", "ItemName", "PluCode", "Price"]
    header += ["Field%02d" % c for c in range(len(header), COLUMNS)]
    for c, name in enumerate(header):
        ws.write(0, c, name)
    words = ["Unit %d" % k for k in range(40)] + ["Café", "Größe", "日本", "Ωμέγα"]
    start = datetime.date(2020, 1, 1)

    code = plu = None
    for i in range(rows):
        kind = i % 100
        if kind == 10:
            plu = "88%010d" % i
        elif kind == 20:
            pass
        elif kind == 30:
            code = ("IT %06d" if i % 200 == 30 else "IT'%06d") % i
            plu = "88%010d" % i
        else:
            code = "IT%06d" % i
            plu = "88%010d" % i
        r = i + 1
        ws.write(r, 0, code)
        ws.write(r, 1, "Item name %d" % i)
        ws.write(r, 2, plu)
        ws.write(r, 3, (i % 997) * 0.25 + 1)
        for c in range(4, COLUMNS):
            m = c % 4
            if m == 0:
                ws.write(r, c, (i * c) % 10007)
            elif m == 1:
                ws.write(r, c, ((i + c) % 1000) / 8.0)
            elif m == 2:
                ws.write(r, c, words[(i + c) % len(words)])
            elif c // 4 <= date_columns:
                ws.write(r, c, start + datetime.timedelta(days=(i + c) % 1500), date_style)
            else:
                ws.write(r, c, "REF-%d" % ((i * 7 + c) % 5000))
        if r % 4096 == 0:
            ws.flush_row_data()
    book.save(out)


if __name__ == "__main__":
    main()
