#!/usr/bin/env bash
# Runs the headless companion over the demo laid out by make_demo.sh: every sheet of the clean
# workbook is verified and migrated into the demo destination, every sheet of the faults
# workbook only verified; then the row counts of the five destination tables.
# Usage: demo/run_headless.sh DIR BIN   (BIN: the folder holding kordb-cli, or kordb-cli itself)
# Exits 0 when the clean workbook went through and the faults workbook showed its faults.
set -uo pipefail
dir=$(cd "${1:?usage: run_headless.sh DIR BIN}" && pwd)
bin=${2:?usage: run_headless.sh DIR BIN}
cli=$bin
[ -d "$bin" ] && cli=$bin/kordb-cli
[ -x "$cli" ] || { echo "run_headless.sh: no kordb-cli at $cli" >&2; exit 2; }
for f in kordb_demo.db kordb_demo.xls kordb_demo_faults.xls odbc.ini settings/KORDB.ini; do
  [ -e "$dir/$f" ] || { echo "run_headless.sh: $dir/$f missing; run demo/make_demo.sh $dir" >&2; exit 2; }
done

# The demo's own data source and settings; nothing of the user's is read or changed.
export ODBCSYSINI=$dir ODBCINI=$dir/odbc.ini XDG_CONFIG_HOME=$dir/settings
unset KORDB_PASSWORD

failed=0
run() {  # expected-status command...
  local want=$1; shift
  echo
  echo "\$ kordb-cli $*"
  "$cli" "$@" </dev/null 2>&1
  local got=$?
  echo "(exit status $got)"
  if [ "$got" != "$want" ]; then
    echo "run_headless.sh: expected exit status $want" >&2
    failed=1
  fi
}

mapfile -t sheets < <("$cli" sheets "$dir/kordb_demo.xls")
[ ${#sheets[@]} -gt 0 ] || { echo "run_headless.sh: no sheets in the demo workbook" >&2; exit 1; }
echo "== Clean workbook: $dir/kordb_demo.xls (${sheets[*]})"
for s in "${sheets[@]}"; do
  run 0 migrate --sheet "$s" --yes "$dir/kordb_demo.xls"
done

mapfile -t faulty < <("$cli" sheets "$dir/kordb_demo_faults.xls")
echo
echo "== Faults workbook: $dir/kordb_demo_faults.xls (${faulty[*]}), verification only"
for s in "${faulty[@]}"; do
  run 1 verify --sheet "$s" "$dir/kordb_demo_faults.xls"
done

echo
echo "== Rows in the demo destination $dir/kordb_demo.db"
/usr/bin/python3 - "$dir/kordb_demo.db" <<'PY'
import sqlite3, sys
con = sqlite3.connect(sys.argv[1])
for table in ("KINV_MT_ITEM", "KINV_MT_PLU", "KINV_MT_CLASS", "KLED_MT_DEBTOR", "KLED_MT_CREDITOR"):
    print("%-17s %6d" % (table, con.execute("SELECT COUNT(*) FROM " + table).fetchone()[0]))
PY
exit $failed
