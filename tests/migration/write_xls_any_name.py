#!/usr/bin/python3
"""write_xls.py with worksheet names up to the file format's 255 characters.

Excel's own dialogs stop at 31 characters, but the .xls format stores longer names and other
producers write them; the tests need such names to show that no worksheet name reaches a
statement unquoted. Usage and JSON format as for tests/support/write_xls.py.
"""
import os
import runpy
import sys

import xlwt.Utils


def _valid(name):
    return name != "" and name[0] != "'" and len(name) <= 255 and not any(
        c in "[]:\\?/*\x00" for c in name)


xlwt.Utils.valid_sheet_name = _valid
here = os.path.dirname(os.path.abspath(__file__))
sys.argv = [os.path.join(here, "../support/write_xls.py")] + sys.argv[1:]
runpy.run_path(sys.argv[0], run_name="__main__")
