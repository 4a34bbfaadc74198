#!/usr/bin/env bash
# A second launch while Brackwater runs, under a window manager. Without files
# it brings the existing window back: un-minimized, raised and active, and
# only one window exists. With a file named relative to its own folder it hands
# the file to the running instance and exits 0; the first instance asks,
# processes the file and ends. (A socket left by a killed instance:
# DocumentRequests_test.)
set -euo pipefail
source "$(dirname "$0")/lib.bash"
e2e_window_setup "$@"
command -v openbox >/dev/null || fail "openbox is not installed"
openbox --config-file /dev/null >/dev/null 2>&1 &
E2E_PIDS="$!"
sleep 0.5
mkdir -p "$E2E_DIR/data"
printf 'second launch' >"$E2E_DIR/data/handed over"

e2e_start 1
first=$pid
[ -S "$XDG_RUNTIME_DIR/brackwater.socket" ] || fail "no socket in the runtime folder"
e2e_focus_main "$first"
hidden() { [[ "$(xprop -id "$win" _NET_WM_STATE 2>/dev/null)" == *_NET_WM_STATE_HIDDEN* ]]; }
active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$win" ]; }
xdotool windowminimize --sync "$win"
e2e_until hidden || fail "the window manager did not minimize the window"

timeout 10 "$BIN" || fail "the second launch failed ($?)"
e2e_until eval '! hidden' || fail "the window stayed minimized after a second launch"
e2e_until active || fail "the window is not the active one"
[ "$(visible_windows "$first")" -eq 1 ] || fail "a second launch opened another window"

(cd "$E2E_DIR/data" && timeout 10 "$BIN" "handed over") || fail "the second launch with a file failed ($?)"
wait_windows "$first" 2 # its confirmation alert
answer_alert "$first" Return
wait_exit_ok "$first"
[ ! -s "$E2E_DIR/data/handed over" ] || fail "the handed-over file was not processed"
[ -f "$E2E_DIR/data/._handed over" ] || fail "no sidecar for the handed-over file"
echo "ok: a second launch un-minimized and activated the window; a file was handed over"
