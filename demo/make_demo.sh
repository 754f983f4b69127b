#!/usr/bin/env bash
# Lays out a demo destination and demo workbooks in DIR, without touching anything
# system-wide:
#   DIR/kordb_demo.db          SQLite database with the five destination tables, empty
#   DIR/odbcinst.ini, odbc.ini the SQLite ODBC driver and the data source "KordbDemo"
#   DIR/kordb_demo.xls         clean workbook: items, classes, debtors, creditors
#   DIR/kordb_demo_faults.xls  workbook with deliberate faults for verification to find
#   DIR/settings/KORDB.ini     connection settings for the demo (use XDG_CONFIG_HOME=DIR/settings)
# Usage: demo/make_demo.sh DIR
set -euo pipefail
dir=${1:?usage: make_demo.sh DIR}
here=$(cd "$(dirname "$0")" && pwd)
driver=$(find /usr/lib /usr/local/lib -name 'libsqlite3odbc.so' -print -quit 2>/dev/null || true)
if [ -z "$driver" ]; then
  echo "make_demo.sh: the SQLite ODBC driver is not installed (Debian package libsqliteodbc)" >&2
  exit 1
fi
exec /usr/bin/python3 "$here/make_demo.py" "$dir" "$here/destination.sql" "$driver"
