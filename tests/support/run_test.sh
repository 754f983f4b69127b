#!/usr/bin/env bash
# Runs one test program outside CTest, with a PostgreSQL server of its own, so that several
# people can run tests at once:  tests/support/run_test.sh build/tests/x/test_x [gtest args]
set -euo pipefail
exe=$(realpath "$1"); shift
src=$(cd "$(dirname "$0")/../.." && pwd)
name=$(basename "$exe")
dir=$(mktemp -d "/tmp/kordb-$name-XXXXXX")
chmod 755 "$dir"
trap '"$src/tests/support/pg_server.sh" stop "$dir/pg"; rm -rf "$dir"' EXIT
"$src/tests/support/pg_server.sh" start "$dir/pg" >/dev/null
home=$dir/home
mkdir -p "$home/config" "$home/data" "$home/run"
chmod 700 "$home/run"
ODBCSYSINI=$dir/pg ODBCINI=$dir/pg/odbc.ini KORDB_TEST_DIR=$dir/scratch KORDB_SOURCE_DIR=$src \
KORDB_BIN_DIR=$src/build/bin QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$home/config \
XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/run HOME=$home "$exe" "$@"
