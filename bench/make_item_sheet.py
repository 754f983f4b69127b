#!/usr/bin/python3
"""Writes a large item workbook for the benchmarks with xlwt.

make_item_sheet.py OUT.xls|OUT.xlsx [--rows 65535] [--cols 80] [--faults]
An OUT ending in .xlsx is written by openpyxl instead (write-only mode). Row 1 is the header; --faults makes about 1% duplicated item codes, 1% repeated PLU pairs
and 1% invalid codes (a blank or a quote inside), spread over the sheet.
"""
import argparse

import xlwt

BASE = ["ItemCode", "ItemName", "AppCode", "PosDescription"]
BASE += ["PosDescription%d" % n for n in range(1, 11)]
BASE += ["ClassCode%d" % n for n in range(1, 11)]
BASE += ["BasedMeasure", "BasedUnitPrice", "BasedUnitCost", "MinBasedUnitPrice",
         "MaxBasedUnitPrice", "WarningQty", "ReorderQty", "MaxQty", "MinQty"]
BASE += ["AdvPrice%d" % n for n in range(1, 31)]
BASE += ["DefCreditorCode", "PluCode"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--rows", type=int, default=65535, help="rows including the header")
    ap.add_argument("--cols", type=int, default=80)
    ap.add_argument("--faults", action="store_true")
    ap.add_argument("--sparse", action="store_true",
                    help="leave about a third of the class codes and prices empty, unevenly")
    a = ap.parse_args()
    header = (BASE + ["Extra%d" % n for n in range(1, a.cols)])[: a.cols]
    rows = ([None if v is SKIP else v for v in row] for row in item_rows(a, header))
    if a.out.endswith(".xlsx"):
        import openpyxl
        book = openpyxl.Workbook(write_only=True)
        ws = book.create_sheet("KINV_MT_ITEM")
        for row in rows:
            ws.append(row)
        book.save(a.out)
        return
    book = xlwt.Workbook(encoding="utf-8")
    ws = book.add_sheet("KINV_MT_ITEM")
    for r, row in enumerate(rows):
        for c, v in enumerate(row):
            if v is not None:
                ws.write(r, c, v)
        if r % 5000 == 0:
            ws.flush_row_data()
    book.save(a.out)


SKIP = object()


def item_rows(a, header):
    """The header, then each item row; SKIP marks a cell left empty."""
    yield list(header)
    for r in range(1, a.rows):
        code = "IT%06d" % r
        plu = "P%07d" % r
        if a.faults:
            if r % 100 == 1 and r > 1:
                code = "IT%06d" % (r - 1)          # duplicated item code
            elif r % 100 == 34 and r > 1:
                code, plu = "IT%06d" % (r - 1), "P%07d" % (r - 1)  # repeated PLU pair
            elif r % 100 == 67:
                code = "IT %05d" % r                # invalid: a blank inside
        row = []
        for c, name in enumerate(header):
            if name == "ItemCode":
                v = code
            elif name == "PluCode":
                v = plu
            elif name == "ItemName":
                v = "Item %d café" % r
            elif a.sparse and name.startswith(("AdvPrice", "ClassCode")) and hash((r, c)) % 3 == 0:
                v = SKIP                           # empty: the column is left out of the row
            elif name.startswith(("AdvPrice", "Based", "Min", "Max", "Warning", "Reorder")):
                v = round(r * 0.25 + c, 2)
            elif name.startswith("PosDescription") and c % 3:
                v = SKIP                           # empty: falls back to the item name
            else:
                v = "%s-%d" % (name[:4], r % 97)
            row.append(v)
        yield row


if __name__ == "__main__":
    main()
