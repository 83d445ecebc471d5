# Shared by the tests of the store and update server: starts rlvexa-services
# instances in the background and stops them at the end. Source it after
# setting SERVICES and WORK (and a fail function).
SERVICES_PIDS=()

stop_services() {
  local pid
  for pid in "${SERVICES_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${SERVICES_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  SERVICES_PIDS=()
}

# start_services NAME DATA_DIR ADDRESS STORE_PORT UPDATE_PORT: the server's
# log goes to $WORK/NAME.log; the ports it listens on (0 = any free port)
# are left in STORE_PORT and UPDATE_PORT.
start_services() {
  local name=$1 data=$2 address=$3 i
  "$SERVICES" --data "$data" --listen "$address" --store-port "$4" --update-port "$5" --pause-ms 200 \
    >"$WORK/$name.out" 2>"$WORK/$name.log" &
  SERVICES_PIDS+=($!)
  for i in $(seq 100); do
    [ "$(grep -c 'port' "$WORK/$name.out" 2>/dev/null)" -ge 2 ] && break
    sleep 0.1
  done
  STORE_PORT=$(sed -n 's/^store port //p' "$WORK/$name.out")
  UPDATE_PORT=$(sed -n 's/^update port //p' "$WORK/$name.out")
  [ -n "$STORE_PORT" ] && [ -n "$UPDATE_PORT" ] || fail "rlvexa-services $name did not start: $(cat "$WORK/$name.log")"
}
