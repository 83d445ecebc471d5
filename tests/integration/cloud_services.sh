#!/usr/bin/env bash
# The configurator against rlvexa-services on loopback, headless on the real
# Qt platform: the configuration stored on three servers at once and under a
# list of IMEIs, fetched back and opened, an IMEI the store does not hold, a
# dead first server skipped; the newer configurator build offered and saved
# without being started, the news shown once, and not asked at all when
# disabled; the newer firmware offered for the simulated tracker's build,
# downloaded and flashed.
#
# usage: cloud_services.sh RLVEXA_SERVICES RLVEXA_CONFIGURATOR RLVEXA_TRACKER_SIM
set -u
SERVICES=${1:?usage: cloud_services.sh RLVEXA_SERVICES RLVEXA_CONFIGURATOR RLVEXA_TRACKER_SIM}
APP=${2:?usage: cloud_services.sh RLVEXA_SERVICES RLVEXA_CONFIGURATOR RLVEXA_TRACKER_SIM}
SIM=${3:?usage: cloud_services.sh RLVEXA_SERVICES RLVEXA_CONFIGURATOR RLVEXA_TRACKER_SIM}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/rlvexa-cloud.XXXXXX")
SIM_PID=""
fail() {
  echo "FAIL: $*" >&2
  for f in answers.txt app.err srv1.log srv2.log srv3.log sim.err; do
    [ -f "$WORK/$f" ] && { echo "---- $f" >&2; tail -n 30 "$WORK/$f" >&2; }
  done
  exit 1
}
. "$(dirname "$0")/services_harness.sh"
cleanup() {
  stop_services
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

UPLOADED="Файл(ы) конфигурации выгружен!"
OPENED="Конфигурация загружена из облака и открыта"
NOT_STORED="В облаке нет конфигурации для этого IMEI"

for n in 1 2 3; do mkdir -p "$WORK/srv$n"; done
start_services srv1 "$WORK/srv1" 127.0.0.1 0 0
PORT=$STORE_PORT
UPORT=$UPDATE_PORT
start_services srv2 "$WORK/srv2" 127.0.0.2 "$PORT" "$UPORT"
start_services srv3 "$WORK/srv3" 127.0.0.3 "$PORT" "$UPORT"

# settings FOLDER DISABLE_NEWS SERVER...: a data folder whose config.ini names the servers.
settings() {
  local dir=$1 news=$2 i=1 server key
  shift 2
  mkdir -p "$dir"
  {
    printf '[Settings]\nDisableNews=%s\n[Address]\nConfigPort=%s\nUpdatePort=%s\n' "$news" "$PORT" "$UPORT"
    for server in "$@"; do
      key=ServerAdr
      [ "$i" -gt 1 ] && key=ServerAdr$i
      printf '%s=%s\n' "$key" "$server"
      i=$((i + 1))
    done
  } >"$dir/config.ini"
}

# run SECONDS DATA_DIR [TRACKER_PORT]: the configurator on $WORK/commands.txt.
run() {
  local extra=()
  [ -n "${3:-}" ] && extra=(--tracker-port "$3")
  timeout "$1" "$APP" --headless --dir "$2" "${extra[@]}" <"$WORK/commands.txt" >"$WORK/answers.txt" \
    2>"$WORK/app.err" || fail "the configurator failed ($?)"
}

answer() {
  sed -n "${1}p" "$WORK/answers.txt"
}

# ---- The store: three servers at once, then a list of IMEIs -------------------------
settings "$WORK/a" 1 127.0.0.1 127.0.0.2 127.0.0.3
cat >"$WORK/commands.txt" <<'CMD'
type CONFPASS 4321
type IMEICLOUD 866000000000001
click UploadConfigButton
wait 2500
get MESLABEL
type Memo8 866000000000002\n\n\n866000000000003\n866000000000004
click UploadListIMEIButton
prop Memo8 count
until Label40 text 1/3 5000
until Label40 text 2/3 5000
until Label40 text "" 5000
wait 1000
get MESLABEL
prop Memo7 lines
quit
CMD
run 40 "$WORK/a"
[ "$(answer 5)" = "ok $UPLOADED" ] || fail "single upload: $(answer 5)"
[ "$(answer 8)" = "ok 3" ] || fail "the empty lines are not removed: $(answer 8)"
for n in 9 10 11; do [ "$(answer $n)" = "ok" ] || fail "list counter, answer $n: $(answer $n)"; done
[ "$(answer 13)" = "ok $UPLOADED" ] || fail "list upload: $(answer 13)"
# temp.fcg is the list's upload image; the single upload before it went the same to every server.
for n in 1 2 3; do
  for imei in 866000000000002 866000000000003 866000000000004; do
    cmp -s "$WORK/srv$n/configs/$imei.fcg" "$WORK/a/temp.fcg" || fail "server $n does not hold $imei as sent"
  done
  cmp -s "$WORK/srv$n/configs/866000000000001.fcg" "$WORK/srv1/configs/866000000000001.fcg" ||
    fail "server $n holds another single upload"
  [ "$(grep -c ' stored ' "$WORK/srv$n.log")" -eq 4 ] || fail "server $n did not store four files"
done
[ "$(stat -c %s "$WORK/a/temp.fcg")" -eq 1046 ] || fail "the uploaded file is not a 1046-byte configuration"
grep -q "^upload 866000000000001, 1046 bytes" <(sed 's/^[^ ]* [^ ]* //' "$WORK/srv1.log") ||
  fail "the header did not announce 1046 bytes"
[ "$(answer 14 | grep -o 'конфигурация сохранена на сервере' | wc -l)" -eq 12 ] ||
  fail "the trace does not hold 12 confirmations"

# ---- Download: opened; not stored; a dead first server skipped ----------------------
settings "$WORK/b" 1 127.0.0.9 127.0.0.1
cat >"$WORK/commands.txt" <<CMD
get CONFPASS
type IMEICLOUD 866000000000003
click DownloadConfigButton
until MESLABEL text $OPENED 5000
get CONFPASS
get Label40
type IMEICLOUD 866000000000099
click DownloadConfigButton
until MESLABEL text $NOT_STORED 5000
type IMEICLOUD 12#34
click DownloadConfigButton
get MESLABEL
quit
CMD
run 30 "$WORK/b"
[ "$(answer 1)" != "ok 4321" ] || fail "the fresh configurator already shows the password"
[ "$(answer 4)" = "ok" ] || fail "download not opened: $(answer 4)"
[ "$(answer 5)" = "ok 4321" ] || fail "the downloaded configuration is not on the pages: $(answer 5)"
[ "$(answer 6)" = "ok Файл получен" ] || fail "Label40: $(answer 6)"
[ "$(answer 9)" = "ok" ] || fail "notexists#: $(answer 9)"
case "$(answer 12)" in
  "ok IMEI содержит недопустимые символы"*) ;;
  *) fail "an IMEI with # was not refused: $(answer 12)" ;;
esac
grep -q "download 866000000000003" "$WORK/srv1.log" || fail "the second server was not asked"
grep -q "12#34\|download 12" "$WORK/srv1.log" && fail "a request with # reached the store"
cmp -s "$WORK/b/temp.fcg" "$WORK/a/temp.fcg" || fail "temp.fcg is not the stored file"

# ---- Update service: the configurator offer and the news --------------------------
mkdir -p "$WORK/srv1/configurator" "$WORK/srv1/firmware/type-8"
printf 'MZ not to be run' >"$WORK/srv1/configurator/ConfiguratorRLvexa_v1.0.0.1.exe"
printf 'MZ older' >"$WORK/srv1/configurator/ConfiguratorRLvexa_v0.9.10.0.exe"
printf 'Hello fleet' >"$WORK/srv1/news.txt"
settings "$WORK/c" 0 127.0.0.1
cat >"$WORK/commands.txt" <<'CMD'
until Panel32 visible 1 5000
get Label429
prop Label430 tag
select RzRadioGroup1 1
click Button29
until Panel32 visible 0 5000
get MESLABEL
until NewsPanel visible 1 15000
get NewsCaption
click NewsCaption
wait 12000
prop NewsPanel visible
quit
CMD
run 60 "$WORK/c"
[ "$(answer 2)" = "ok ConfiguratorRLvexa_v1.0.0.1.exe" ] || fail "configurator offer: $(answer 2)"
[ "$(answer 3)" = "ok 2" ] || fail "offer tag: $(answer 3)"
[ "$(answer 6)" = "ok" ] || fail "the offer panel stayed: $(answer 6)"
SAVED=$WORK/c/Downloads/ConfiguratorRLvexa_v1.0.0.1.exe
cmp -s "$SAVED" "$WORK/srv1/configurator/ConfiguratorRLvexa_v1.0.0.1.exe" || fail "the build was not saved"
case "$(answer 7)" in
  "ok "*"$SAVED") ;;
  *) fail "the engineer is not told where the build is: $(answer 7)" ;;
esac
[ -x "$SAVED" ] && fail "the saved build is executable"
[ "$(answer 8)" = "ok" ] || fail "no news: $(answer 8)"
[ "$(answer 9)" = "ok Hello fleet" ] || fail "news text: $(answer 9)"
[ "$(answer 12)" = "ok 0" ] || fail "the news came back: $(answer 12)"
[ "$(grep -c 'news question' "$WORK/srv1.log")" -eq 1 ] || fail "news asked other than once"

# ---- The firmware offer for the simulated tracker, flashed; news disabled ----------
python3 - "$WORK/srv1/firmware/type-8/fw5_2031.0102.03.bin" "$WORK/body.bin" <<'PY' || fail "no image"
import os, struct, sys
body = os.urandom(20000)
header = b"SLFW" + bytes([8, 5, 0, 0]) + struct.pack("<II", len(body), 0x12345678) + bytes(4)
header += struct.pack("<HHB", 2031, 102, 3)
header += bytes(512 - len(header))
open(sys.argv[1], "wb").write(header + body)
open(sys.argv[2], "wb").write(body)
PY
printf 'old' >"$WORK/srv1/firmware/type-8/fw5_2017.0000.03.bin"
rm "$WORK/srv1/configurator/ConfiguratorRLvexa_v1.0.0.1.exe"
"$SIM" --pty --static --dump-flash "$WORK/flashed.bin" >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
for _ in $(seq 100); do [ -s "$WORK/sim.out" ] && break; sleep 0.1; done
PTY=$(head -1 "$WORK/sim.out")
[ -e "$PTY" ] || fail "the simulator printed no pseudo-terminal"
settings "$WORK/d" 1 127.0.0.1
NEWS_BEFORE=$(grep -c 'news question' "$WORK/srv1.log")
cat >"$WORK/commands.txt" <<CMD
until ComPortDeviceCaption text $PTY: RL20Vexa 20000
until Panel32 visible 1 10000
get Label429
select RzRadioGroup1 1
click Button29
until Progress_flash position 100 60000
until ComPortDeviceCaption text $PTY: RL20Vexa 30000
until LVer text Версия ПО: 5 (build 2031.0102.03) 10000
wait 11000
prop NewsPanel visible
quit
CMD
run 150 "$WORK/d" "$PTY"
[ "$(answer 3)" = "ok fw5_2031.0102.03.bin" ] || fail "firmware offer: $(answer 3)"
for n in 6 7 8; do [ "$(answer $n)" = "ok" ] || fail "flashing, answer $n: $(answer $n)"; done
[ "$(answer 10)" = "ok 0" ] || fail "news shown although disabled"
[ "$(grep -c 'news question' "$WORK/srv1.log")" -eq "$NEWS_BEFORE" ] || fail "news asked although disabled"
cmp -s "$WORK/d/Downloads/fw5_2031.0102.03.bin" "$WORK/srv1/firmware/type-8/fw5_2031.0102.03.bin" ||
  fail "the image was not saved in Downloads"
kill "$SIM_PID"
wait "$SIM_PID"
SIM_PID=""
cmp -s "$WORK/flashed.bin" "$WORK/body.bin" || fail "the simulator's stored body differs from the image's"
echo "ok: store on three servers, lists, download, offers, news and flashing against rlvexa-services"
exit 0
