#!/usr/bin/env bash
# The demo: the operator monitor on the demo profile, watching gateway logs
# that grow while it runs.
#
#   scripts/demo.sh [BUILD_DIR] [--screenshot FILE]
#
# 1. writes the settings of the profile "demo" with tmnreg (log directory,
#    output directory, refresh period, a 30-day reading window, and the
#    directory of the configuration program);
# 2. fills the log directory with loggen: 30 days of errors, inbound and
#    outgoing messages;
# 3. keeps loggen appending lines in follow mode while the monitor runs;
# 4. opens "tmngwmon -profile=demo" with the outgoing messages selected.
# With --screenshot FILE the monitor renders its main window offscreen after
# the first reading into FILE and exits (no display needed). Without a display
# and without --screenshot the script says how to run it under Xvfb.
set -euo pipefail

build=build/release
screenshot=
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshot) screenshot=${2:?--screenshot needs a file name}; shift 2 ;;
    --screenshot=*) screenshot=${1#--screenshot=}; shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) build=$1; shift ;;
  esac
done
bin=$build/bin
for program in tmnreg loggen tmngwmon; do
  [ -x "$bin/$program" ] || { echo "demo: $bin/$program is missing; build first (make release)" >&2; exit 1; }
done

export TARMIN_HOME=${TARMIN_HOME:-$PWD/build/demo-home}
logs=$TARMIN_HOME/gwlogs
out=$TARMIN_HOME/gwout
# The home holds settings and keys: made for the user alone (the tools
# refuse a home that others may enter).
(umask 077 && mkdir -p "$TARMIN_HOME")
mkdir -p "$out"
rm -rf "$logs"
mkdir -p "$logs"

key='Software\KELVORIA\tarmin-operator\Profiles\demo'
"$bin/tmnreg" set "$key" GWMonGWLogDirectory string "$logs"
"$bin/tmnreg" set "$key" GWMonOutputDirectory string "$out/"
"$bin/tmnreg" set "$key" GWMonRefreshTimeout dword 10
"$bin/tmnreg" set "$key" PathsFlags dword 1
"$bin/tmnreg" set "$key" AnalyzeNday dword 30
"$bin/tmnreg" set "$key" Filename string "$TARMIN_HOME/"
# Where the monitor finds the configuration program ("&Конфигурация...").
"$bin/tmnreg" set "$key" Path string "$(cd "$bin" && pwd)"
echo "Demo profile in $TARMIN_HOME/registry.db:"
"$bin/tmnreg" query "$key"

echo "Writing 30 days of gateway logs into $logs ..."
"$bin/loggen" --dir "$logs" --days 30 --outgoing 20000 --inbound 8000 --errors 3000 --rotate-hours 24

if [ -n "$screenshot" ]; then
  mkdir -p "$(dirname "$screenshot")"
  "$bin/tmngwmon" -profile=demo --select=3 --screenshot "$screenshot"
  exit 0
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  shot=$TARMIN_HOME/monitor.png
  "$bin/tmngwmon" -profile=demo --select=3 --screenshot "$shot"
  cat <<MSG

No display is available, so the monitor cannot open its window here.
  - Run the demo under a virtual X display (package xvfb):
        xvfb-run -a scripts/demo.sh $build
  - Or look at the main window rendered without a display: $shot
        scripts/demo.sh $build --screenshot monitor.png
MSG
  exit 0
fi

# The gateway keeps writing while the monitor runs; the monitor picks the new
# lines up at every refresh (10 seconds, or F5).
"$bin/loggen" --dir "$logs" --days 0 --outgoing 0 --inbound 0 --errors 0 --follow 2 --quiet &
follower=$!
trap 'kill "$follower" 2>/dev/null; wait "$follower" 2>/dev/null || true' EXIT
echo "loggen appends 2 lines per second (pid $follower); close the monitor to end the demo."
"$bin/tmngwmon" -profile=demo --select=3
