#!/usr/bin/env bash
# Runs a command on a fresh Xvfb display with the openbox window manager, so
# that windows get real frames and title bars; stops both afterwards.
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib/tarnwick-env.sh"
tw_init
tw_start_xvfb
tw_start_wm
# It announces itself a moment before it manages new windows.
sleep 0.5
export QT_QPA_PLATFORM=xcb
"$@"
