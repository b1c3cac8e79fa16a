#!/usr/bin/env bash
# The demo: two gateways exchange protected mail while the operator monitor
# watches ours.
#
#   scripts/demo.sh [BUILD_DIR] [--screenshot FILE [--wait SECONDS] [--select N]] [--keep]
#
# 1. makes a test PKI and two gateway homes with gateway/setup-pair.sh: ours
#    (operator@tarmin.test) and a partner's (alice@tarmin.test);
# 2. writes the monitor's settings for the profile "demo" in our home: our
#    gateway's log and output directories, a 5-second refresh, receipts
#    overdue after 1 minute, an alert after 3 repeats of an error (alerts go
#    to alice as jobs), an address book for the signing wizard and one
#    distribution packet for the distribution wizard;
# 3. starts the two gateways (tmngwd) and a traffic source: every few seconds
#    jobs with attachments go from us to alice (some to a recipient without a
#    certificate, some damaged in transit), and alice writes to us; now and
#    then the partner's gateway stops for 90 seconds, so that receipts become
#    overdue;
# 4. opens "tmngwmon -profile=demo" with the errors selected (--select N:
#    2 inbound, 3 outgoing, 4 receipts). The monitor counts repeated errors
#    while it reads the errors and finds overdue receipts while it shows the
#    receipts ("Уведомления").
# With --screenshot FILE the monitor renders its main window offscreen after
# half a minute (--wait) of traffic into FILE, with the outgoing messages (or
# category N of --select: 1 errors, 2 inbound, 4 receipts) shown, and the demo
# ends (no display needed). Without a display (and without QT_QPA_PLATFORM,
# e.g. vnc) and without --screenshot the script renders the window and says
# how to see it live.
# The demo's files are in build/demo (removed at the next run; --keep keeps
# the logs of the last run and adds to them).
set -euo pipefail

build=build/release
screenshot=
keep=
wait=30
select=
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshot) screenshot=${2:?--screenshot needs a file name}; shift 2 ;;
    --screenshot=*) screenshot=${1#--screenshot=}; shift ;;
    --keep) keep=1; shift ;;
    --wait) wait=${2:?--wait needs a number of seconds}; shift 2 ;;
    --select) select=${2:?--select needs a category number}; shift 2 ;;
    -h|--help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "demo: unknown option $1 (try --help)" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$build/bin" 2>/dev/null && pwd) || { echo "demo: $build/bin is missing; build first (make release)" >&2; exit 1; }
for program in tmnreg tmncert tmngwd tmngw-traffic tmngwmon; do
  [ -x "$bin/$program" ] || { echo "demo: $bin/$program is missing; build first (make release)" >&2; exit 1; }
done

demo=${TARMIN_DEMO_DIR:-$PWD/build/demo}
org_home=$demo/org-home
partner_home=$demo/partner-home
org=$demo/org
partner=$demo/partner
if [ -z "$keep" ] || [ ! -d "$org_home" ]; then
  rm -rf "$demo"
  # The homes hold settings and keys: made for the user alone (the tools
  # refuse a home that others may enter).
  (umask 077 && mkdir -p "$demo")
  echo "Making the test PKI and the two gateway homes in $demo ..."
  "$here/gateway/setup-pair.sh" "$org_home" "$partner_home" "$bin" > /dev/null
fi
mkdir -p "$org/out" "$partner/out" "$demo/packets/daily"
# The monitor's profile signs with the operator's certificate too.
operator=$(awk '$1 == "operator" { print $2 }' "$org_home/pki.list")
TARMIN_HOME=$org_home "$bin/tmncert" setmy --profile demo "$operator" > /dev/null

reg() { TARMIN_HOME=$org_home "$bin/tmnreg" set "$@" > /dev/null; }
key='Software\KELVORIA\tarmin-operator\Profiles\demo'
reg "$key" GWMonGWLogDirectory string "$org/logs"
reg "$key" GWMonOutputDirectory string "$org/out/"
reg "$key" GWMonRefreshTimeout dword 5
reg "$key" Filename string "$org_home/events/"
# Bit 0: open the operator's context with the own certificate (the wizards
# sign with it).
reg "$key" ProtectionFlags dword 1
# Receipts: checked, overdue reported and sent to AdmAddr; repeated errors
# counted and sent to AdmAddr.
reg "$key" KVITFlags dword 31
reg "$key" KvitTimeout dword 1
reg "$key" MaxErrorRepeat dword 3
reg "$key" ErrPeriodRepeat dword 2
reg "$key" AdmAddr string alice@tarmin.test
# Where the monitor finds the configuration program ("&Конфигурация...").
reg "$key" Path string "$bin"
# The signing wizard's address book.
reg "$key\\GWMonEmailList" GWMonEmailListNum dword 1
reg "$key\\GWMonEmailList\\0" CName string "Alice (partner)"
reg "$key\\GWMonEmailList\\0" Email string alice@tarmin.test
# One distribution packet (the files of packets/daily go to alice, the
# gateway signs and encrypts, the sources are kept) and a sender list with it.
reg "$key\\PacketList" PacketListNum dword 1
reg "$key\\PacketList\\0" PacketNum string 1
reg "$key\\PacketList\\0" Path string "$demo/packets/daily"
reg "$key\\PacketList\\0" Mask string "*.txt"
reg "$key\\PacketList\\0" Subject string "Daily report"
reg "$key\\PacketList\\0" GWType dword 3
reg "$key\\PacketList\\0" NotDelSended string "+"
reg "$key\\PacketList\\0\\Email" EmailNum dword 1
reg "$key\\PacketList\\0\\Email" 0 string alice@tarmin.test
reg "$key\\SenderList" SenderListNum dword 1
reg "$key\\SenderList\\0" SenderListName string "Daily"
reg "$key\\SenderList\\0" SenderPackets string 1
date > "$demo/packets/daily/report.txt"

pids=()
partner_pid=
stop_all() {
  # A stopped partner must run again to hear SIGTERM.
  [ -n "$partner_pid" ] && kill -CONT "$partner_pid" 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap stop_all EXIT

TARMIN_HOME=$org_home "$bin/tmngwd" --spool "$org" --peer "$partner" --address operator@tarmin.test \
  --tamper-subject "[tamper]" > "$demo/org.out" 2>&1 &
pids+=($!)
TARMIN_HOME=$partner_home "$bin/tmngwd" --spool "$partner" --peer "$org" --address alice@tarmin.test \
  > "$demo/partner.out" 2>&1 &
partner_pid=$!
pids+=($partner_pid)

# The traffic source: a round every 8 seconds.
traffic() {
  local round=0
  while :; do
    round=$((round + 1))
    TARMIN_HOME=$org_home "$bin/tmngw-traffic" --profile demo --out "$org/out" --to alice@tarmin.test \
      --count 4 --attachments 2 --size 4096 --no-cert-every 3 --tamper-every 4 --seed "$round" \
      --work "$demo/work" > /dev/null 2>&1 || true
    # Every fourth round, a burst to the recipient without a certificate: its
    # errors come within one refresh and raise the repeated-error alert.
    if [ $((round % 4)) = 2 ]; then
      TARMIN_HOME=$org_home "$bin/tmngw-traffic" --profile demo --out "$org/out" --to nobody@nowhere.test \
        --count 3 --size 1024 --seed "$round" --work "$demo/work" > /dev/null 2>&1 || true
    fi
    if [ $((round % 2)) = 0 ]; then
      TARMIN_HOME=$partner_home "$bin/tmngw-traffic" --out "$partner/out" --to operator@tarmin.test \
        --count 1 --seed "$round" --work "$demo/partner-work" > /dev/null 2>&1 || true
    fi
    sleep 8
  done
}
# The partner's gateway stops for 90 seconds after the first 40 and then
# every 4 minutes: the receipts of what was sent meanwhile come late (all at
# once when it goes on), after the monitor has found them overdue.
pauses() {
  sleep 40
  while :; do
    kill -STOP "$partner_pid" 2>/dev/null || true
    sleep 90
    kill -CONT "$partner_pid" 2>/dev/null || true
    sleep 240
  done
}
traffic &
pids+=($!)
pauses &
pids+=($!)

echo "Gateways running: ours (operator@tarmin.test, spool $org) and the partner's"
echo "(alice@tarmin.test, spool $partner); logs in $org/logs."

# The main window rendered offscreen; alerts that come up meanwhile go to
# standard error (the picture is what counts here).
take_screenshot() {
  rm -f "$1"
  TARMIN_HOME=$org_home "$bin/tmngwmon" -profile=demo --select="${select:-3}" --screenshot "$1" || true
  [ -s "$1" ] || { echo "demo: the monitor wrote no screenshot" >&2; exit 1; }
}

if [ -n "$screenshot" ]; then
  sleep "$wait"
  mkdir -p "$(dirname "$screenshot")"
  take_screenshot "$screenshot"
  exit 0
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  shot=$demo/monitor.png
  sleep "$wait"
  take_screenshot "$shot"
  cat <<MSG

No display is available, so the monitor cannot open its window here.
  - Look at the main window rendered without a display after half a minute
    of traffic: $shot
        scripts/demo.sh $build --screenshot monitor.png
  - Or serve the window to a VNC viewer on port 5901 (no password, no
    encryption, every interface: keep the port closed and connect through
    an ssh tunnel, ssh -L 5901:localhost:5901 this-host):
        QT_QPA_PLATFORM=vnc:port=5901 scripts/demo.sh $build
MSG
  exit 0
fi

echo "Close the monitor to end the demo (the gateways and the traffic stop with it)."
TARMIN_HOME=$org_home "$bin/tmngwmon" -profile=demo --select="${select:-1}"
