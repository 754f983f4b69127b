#!/usr/bin/env bash
# Starts or stops the throw-away PostgreSQL server the tests use, and writes the ODBC
# configuration (odbcinst.ini, odbc.ini) that points the tests at it and at the SQLite driver.
#   pg_server.sh start DIR   -> server on 127.0.0.1, free port; DIR/odbc.ini, DIR/env
#   pg_server.sh stop DIR
# PostgreSQL refuses to run as root: as root the server runs as the postgres user.
set -euo pipefail
cmd=${1:?start or stop}
dir=${2:?folder}
user=kordb
password=kordb-pass
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
odbcdir=$(dirname "$(find /usr/lib -name 'psqlodbcw.so' -print -quit 2>/dev/null)")

as_owner() {
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "$cmd" in
start)
  [ -x "$pgbin/initdb" ] || { echo "PostgreSQL server binaries not found" >&2; exit 1; }
  if [ -f "$dir/data/postmaster.pid" ]; then as_owner "$pgbin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true; fi
  rm -rf "$dir"
  mkdir -p "$dir"
  read -r port closed < <(/usr/bin/python3 -c 'import socket
a=socket.socket(); a.bind(("127.0.0.1",0)); b=socket.socket(); b.bind(("127.0.0.1",0))
print(a.getsockname()[1], b.getsockname()[1])')
  printf '%s\n' "$password" > "$dir/pw"
  if [ "$(id -u)" = 0 ]; then chown -R postgres "$dir"; chmod 755 "$dir"; fi
  as_owner "$pgbin/initdb" -D "$dir/data" -U "$user" --pwfile="$dir/pw" --auth=scram-sha-256 \
    -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
  as_owner "$pgbin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off" start >/dev/null
  cat > "$dir/odbcinst.ini" <<INI
[PostgreSQL Unicode]
Driver=$odbcdir/psqlodbcw.so
[SQLite3]
Driver=$odbcdir/libsqlite3odbc.so
[FreeTDS]
Driver=$odbcdir/libtdsodbc.so
INI
  cat > "$dir/odbc.ini" <<INI
[KordbPg]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$port
Database=postgres
UseServerSidePrepare=1
[KordbClosed]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$closed
Database=postgres
[KordbLite]
Driver=SQLite3
Database=$dir/default.db
INI
  cat > "$dir/env" <<INI
PGPORT=$port
PGUSER=$user
PGPASSWORD=$password
INI
  if [ "$(id -u)" = 0 ]; then chown -R postgres "$dir"; chmod -R a+rX "$dir"; chmod a+rwx "$dir"; fi
  echo "PostgreSQL test server on 127.0.0.1:$port"
  ;;
stop)
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$pgbin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
