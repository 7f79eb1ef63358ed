#!/usr/bin/env bash
# Runs a command on a fresh Xvfb display with the openbox window manager, so
# that windows get real frames and title bars; stops both afterwards.
set -uo pipefail
TMP=$(mktemp -d /tmp/tarnwick-wm-XXXXXX)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$TMP"
}
trap cleanup EXIT
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$TMP/display" 2>"$TMP/xvfb.log" &
PIDS+=($!)
for _ in $(seq 100); do [[ -s $TMP/display ]] && break; sleep 0.1; done
[[ -s $TMP/display ]] || { echo "Xvfb did not start: $(cat "$TMP/xvfb.log")"; exit 1; }
export DISPLAY=":$(head -1 "$TMP/display")"
openbox --sm-disable >"$TMP/openbox.log" 2>&1 &
PIDS+=($!)
# The window manager is up once it has set its check window on the root.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" ||
  { echo "openbox did not start: $(cat "$TMP/openbox.log")"; exit 1; }
# It announces itself a moment before it manages new windows.
sleep 0.5
export QT_QPA_PLATFORM=xcb
"$@"
