#!/usr/bin/env bash
# Builds the system optimised, installs it into the user's device
# ($ORVNEWS_DEVICE, default ~/.local/share/orvnews/device), starts the device
# screen and the main program "Orv News".
#
# A device without channels gets the demo channels (the feeds and pictures of
# demo/, served on the loopback by orv-demo while this script runs) besides
# the default channels of the language file. Without a display (no DISPLAY or
# WAYLAND_DISPLAY), or with --headless, the screen runs headless: the script
# waits for the main window, writes a screenshot, says where, and ends.
set -euo pipefail
cd "$(dirname "$0")/.."

headless=0
for arg in "$@"; do
  case "$arg" in
    --headless) headless=1 ;;
    *) echo "usage: bash scripts/run.sh [--headless]" >&2; exit 2 ;;
  esac
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then headless=1; fi

bash scripts/deps.sh

# $ORVNEWS_BUILD names a build folder configured already (only the programs
# this script runs are brought up to date there).
if [ -n "${ORVNEWS_BUILD:-}" ]; then
  build="$ORVNEWS_BUILD"
  cmake --build "$build" --target orvnews orv-install orv-demo orv-display orv-screenctl
else
  build=build/release
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_SANITIZE=OFF -DORV_TESTS=OFF -DORV_BENCH=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)"
fi

device="${ORVNEWS_DEVICE:-$HOME/.local/share/orvnews/device}"
export ORVNEWS_DEVICE="$device"
program="$build/programfiles/Orv News"
display="$build/platform/orv-display"
screenctl="$build/platform/orv-screenctl"

# Install: mounts the program folder into the device, writes the manifest and
# runs "createchannels" (which adds the default channels to an empty device).
install_log=$("$build/tools/device/orv-install" --device "$device")
echo "$install_log"
channels_before=$(sed -n 's/^channels-before //p' <<<"$install_log")

# The demo feeds' server lives as long as this script; its standard input is
# our pipe, so it ends when the script does. It also serves the demo catalogue
# and writes its address to the device's "OnlineCatalogUrl" (unless the device
# names another catalogue).
demo_args=(--root demo --device "$device")
if [ "$channels_before" = "0" ]; then demo_args+=(--subscribe); fi
coproc DEMO { exec "$build/tools/device/orv-demo" "${demo_args[@]}"; }
demo_pid=$DEMO_PID
cleanup() {
  exec {DEMO[1]}>&- 2>/dev/null || true
  wait "$demo_pid" 2>/dev/null || true
}
trap cleanup EXIT
while IFS= read -r line <&"${DEMO[0]}"; do
  echo "demo: $line"
  case "$line" in serving*) break ;; esac
done

# The home screen with the Today item, beside the main program.
if [ -n "${ORVNEWS_BUILD:-}" ]; then
  cmake --build "$build" --target orv-todayhost OrvNewsToday OrvNewsTodayOptions >/dev/null
fi
"$build/programfiles/orv-todayhost" &
today_pid=$!

# The auto-update service: the service host loads "OrvNewsService" on the device
# beside the other programs and stops when this script ends (README.md,
# "Auto-update and removal").
servicehost="$build/programfiles/orv-servicehost"
if [ -x "$servicehost" ]; then
  "$servicehost" &
  service_pid=$!
fi
# Ends the hosts, then the demo server, when the script ends.
stop_all() {
  if [ -n "${service_pid:-}" ]; then kill -TERM "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
  kill "$today_pid" 2>/dev/null || true
  cleanup
}
trap stop_all EXIT

if [ "$headless" = "0" ]; then
  echo "Starting the device screen with Orv News (close the window to end)."
  "$display" --device "$device" -- "$program"
  exit 0
fi

shot="$(cd "$build" && pwd)/screenshots/run.png"
mkdir -p "$(dirname "$shot")"
"$display" --device "$device" --headless -- "$program" &
display_pid=$!
# The main window: a visible window titled "Orv News" other than the hidden
# coordinating window (at most 30 s).
shown=0
for _ in $(seq 1 150); do
  if "$screenctl" --device "$device" windows 2>/dev/null |
      awk -F'\t' '$3 == "1" && $6 == "Orv News" && $5 != "A377667C-B302-4767-B9C5-EC5210805251" { found = 1 } END { exit !found }'; then
    shown=1
    break
  fi
  sleep 0.2
done
sleep 1  # let the lists paint their pictures
"$screenctl" --device "$device" screenshot "$shot" >/dev/null
"$screenctl" --device "$device" quit >/dev/null || true
wait "$display_pid" 2>/dev/null || true
if [ "$shown" = "1" ]; then
  echo "Headless run: the main window's screenshot is $shot"
else
  echo "Headless run: the main window did not show within 30 s; the screen's screenshot is $shot"
fi
