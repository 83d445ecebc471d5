# A PostgreSQL server of its own for a test: a new cluster (initdb) in a
# temporary folder, run by pg_ctl as an unprivileged user (initdb refuses
# root; as root the tests use "nobody"), listening on a free loopback port
# only, stopped and removed by stop_pg. Source it after setting WORK (and a
# fail function). Debian's binaries are taken from /usr/lib/postgresql/<v>/bin.
PG_BIN=${PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
PG_DIR=
PG_PORT=
PG_URL=

pg_as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

# start_pg: PG_URL names the database (user rlvexa, no password, loopback).
start_pg() {
  [ -x "$PG_BIN/initdb" ] || fail "PostgreSQL's initdb is missing (scripts/install-deps.sh installs postgresql)"
  if [ -z "$PG_DIR" ]; then
    PG_DIR=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-pg.XXXXXX")
    [ "$(id -u)" -eq 0 ] && chown nobody "$PG_DIR"
    pg_as_user "$PG_BIN/initdb" -D "$PG_DIR/data" -U rlvexa -A trust -E UTF8 --no-sync >"$PG_DIR/initdb.log" 2>&1 ||
      fail "initdb failed: $(tail -n 5 "$PG_DIR/initdb.log")"
    PG_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  fi
  # fsync off: the tests stop the server, never the machine.
  pg_as_user "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 30 \
    -o "-p $PG_PORT -k $PG_DIR -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=200" start \
    >/dev/null 2>&1 || fail "PostgreSQL did not start: $(tail -n 5 "$PG_DIR/server.log")"
  PG_URL="postgresql://rlvexa@127.0.0.1:$PG_PORT/postgres"
}

# pg_down: stops the server, keeping its data (start_pg starts it again).
pg_down() {
  pg_as_user "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m immediate -w stop >/dev/null 2>&1
}

stop_pg() {
  [ -n "$PG_DIR" ] || return 0
  pg_as_user "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m immediate -w stop >/dev/null 2>&1
  rm -rf "$PG_DIR"
  PG_DIR=
}
