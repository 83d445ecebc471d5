# Shared by the tests of the store and update server: starts rlvexa-services
# instances in the background and stops them at the end. Source it after
# setting SERVICES and WORK (and a fail function).
SERVICES_PIDS=()
SERVICES_LAUNCH=()

stop_services() {
  local pid
  for pid in "${SERVICES_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${SERVICES_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  SERVICES_PIDS=()
}

# start_services NAME DATA_DIR ADDRESS STORE_PORT UPDATE_PORT [OPTION...]:
# the server's log goes to $WORK/NAME.log; the ports it listens on (0 = any
# free port) are left in STORE_PORT and UPDATE_PORT, its process in
# SERVICES_PID. The words of the array SERVICES_LAUNCH, when set, come before
# the server's command (a program that runs it, e.g. in its own namespace).
start_services() {
  local name=$1 data=$2 address=$3 store=$4 update=$5 i
  shift 5
  "${SERVICES_LAUNCH[@]}" "$SERVICES" --data "$data" --listen "$address" --store-port "$store" \
    --update-port "$update" --pause-ms 200 "$@" >"$WORK/$name.out" 2>"$WORK/$name.log" &
  SERVICES_PID=$!
  SERVICES_PIDS+=($!)
  for i in $(seq 100); do
    [ "$(grep -c 'port' "$WORK/$name.out" 2>/dev/null)" -ge 2 ] && break
    sleep 0.1
  done
  STORE_PORT=$(sed -n 's/^store port //p' "$WORK/$name.out")
  UPDATE_PORT=$(sed -n 's/^update port //p' "$WORK/$name.out")
  [ -n "$STORE_PORT" ] && [ -n "$UPDATE_PORT" ] || fail "rlvexa-services $name did not start: $(cat "$WORK/$name.log")"
}
