# Shared by the tests of the store and update server: starts rlvexa-services
# instances in the background and stops them at the end. Source it after
# setting SERVICES and WORK (and a fail function), and BACKEND: "folder" (the
# default) serves the data folder itself, "pg" a PostgreSQL database of the
# test's own into which use_folder copies the data folder's contents.
SERVICES_PIDS=()
SERVICES_LAUNCH=()
BACKEND=${BACKEND:-folder}
. "$(dirname "${BASH_SOURCE[0]}")/pg_harness.sh"

# use_folder DATA_DIR: with the database, (re)creates it and imports the
# folder; the folder then stays untouched.
use_folder() {
  [ "$BACKEND" = pg ] || return 0
  if [ -n "$PG_DIR" ]; then
    "$PG_BIN/psql" -q -d "$PG_URL" -c 'DROP SCHEMA public CASCADE; CREATE SCHEMA public' >/dev/null 2>&1 ||
      fail "cannot empty the test database"
  else
    start_pg
  fi
  "$SERVICES" admin --store "$PG_URL" import-folder "$1" >"$WORK/import.out" 2>&1 ||
    fail "import-folder failed: $(cat "$WORK/import.out")"
}

# The store option of the server or of its admin command for DATA_DIR.
store_of() {
  if [ "$BACKEND" = pg ]; then echo "$PG_URL"; else echo "$1"; fi
}

stop_services() {
  local pid
  for pid in "${SERVICES_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${SERVICES_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  SERVICES_PIDS=()
}

stop_all() {
  stop_services
  stop_pg
}

# start_services NAME DATA_DIR ADDRESS STORE_PORT UPDATE_PORT [OPTION...]:
# the server's log goes to $WORK/NAME.log; the ports it listens on (0 = any
# free port) are left in STORE_PORT and UPDATE_PORT, its process in
# SERVICES_PID. The words of the array SERVICES_LAUNCH, when set, come before
# the server's command (a program that runs it, e.g. in its own namespace).
start_services() {
  local name=$1 data=$2 address=$3 store=$4 update=$5 i
  shift 5
  "${SERVICES_LAUNCH[@]}" "$SERVICES" --store "$(store_of "$data")" --listen "$address" --store-port "$store" \
    --update-port "$update" --pause-ms 200 "$@" >"$WORK/$name.out" 2>"$WORK/$name.log" &
  SERVICES_PID=$!
  SERVICES_PIDS+=($!)
  for i in $(seq 100); do
    i=$(grep -c 'port' "$WORK/$name.out" 2>/dev/null)
    [ "${i:-0}" -ge 2 ] && break
    sleep 0.1
  done
  STORE_PORT=$(sed -n 's/^store port //p' "$WORK/$name.out")
  UPDATE_PORT=$(sed -n 's/^update port //p' "$WORK/$name.out")
  [ -n "$STORE_PORT" ] && [ -n "$UPDATE_PORT" ] || fail "rlvexa-services $name did not start: $(cat "$WORK/$name.log")"
}
