#!/usr/bin/env bash
# Runs a test program on a private X server with a notification area: Xvfb picks a free display,
# trayer docks the icons. Usage: with_tray.sh PROGRAM [ARGS...]
set -euo pipefail
work=$(mktemp -d)
xvfb_pid=
trayer_pid=
cleanup() {
    [[ -n "$trayer_pid" ]] && kill "$trayer_pid" 2>/dev/null || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

timeout 300 Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 200); do
    [[ -s "$work/display" ]] && break
    sleep 0.05
done
if [[ ! -s "$work/display" ]]; then
    echo "with_tray.sh: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
timeout 300 trayer --edge top --SetDockType true >"$work/trayer.log" 2>&1 &
trayer_pid=$!
export QT_QPA_PLATFORM=xcb
# The program waits for the notification area itself.
"$@"
