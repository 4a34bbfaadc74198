#!/usr/bin/env bash
# Under a window manager, a launch without files while Brackwater runs brings
# the existing window back: un-minimized, raised and active. The second launch
# hands over and exits 0; only one window exists.
set -euo pipefail
BIN=$(realpath "$1")
source "$(dirname "$0")/lib.bash"
e2e_under_xvfb "$@"
e2e_setup
command -v openbox >/dev/null || fail "openbox is not installed"
openbox --config-file /dev/null >/dev/null 2>&1 &
E2E_PIDS="$!"
sleep 0.5

e2e_start 1
first=$pid
win=$(xdotool search --onlyvisible --pid "$first" | head -n 1)
hidden() {
    local state
    state=$(xprop -id "$win" _NET_WM_STATE 2>/dev/null || true)
    [[ "$state" == *_NET_WM_STATE_HIDDEN* ]]
}
xdotool windowminimize --sync "$win"
for ((i = 0; i < 50; i++)); do hidden && break; sleep 0.1; done
hidden || fail "the window manager did not minimize the window"

timeout 10 "$BIN" || fail "the second launch failed ($?)"
for ((i = 0; i < 50; i++)); do hidden || break; sleep 0.1; done
hidden && fail "the window stayed minimized after a second launch"
for ((i = 0; i < 50; i++)); do [ "$(xdotool getactivewindow 2>/dev/null)" = "$win" ] && break; sleep 0.1; done
[ "$(xdotool getactivewindow 2>/dev/null)" = "$win" ] || fail "the window is not the active one"
kill -0 "$first" || fail "the first instance ended"
echo "ok: a second launch un-minimized and activated the window"
