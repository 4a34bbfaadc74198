#!/usr/bin/env bash
# A second launch while Brackwater runs, under a window manager. Without files
# it brings the existing window back: un-minimized, raised and active, and
# only one window exists. With a folder named relative to its own folder it
# hands the folder to the running instance and exits 0; the first instance
# asks, its alert is answered with Return as a person would, and it flips its
# files (one with a sidecar, one without a fork, which gets one), ends by itself
# and takes its socket with it. (A socket left by a killed instance:
# DocumentRequests_test; a flip in each store: FaultInjection_test, and through
# the real binary crash_kill.sh.)
source "$(dirname "$0")/lib.bash"
e2e_window_setup "$@"
openbox --config-file /dev/null >/dev/null 2>&1 &
E2E_PIDS="$!"
sleep 0.5
data="$E2E_DIR/data"
mkdir -p "$data"
for f in side plain; do printf '%s data' "$f" >"$data/$f"; done
cp "$(dirname "$0")/../corpus/peers/unar-hidden.ad" "$data/._side"

e2e_start 1
first=$pid
[ -S "$XDG_RUNTIME_DIR/brackwater.socket" ] || fail "no socket in the runtime folder"
win=$(xdotool search --onlyvisible --pid "$first" --name '^Brackwater$' | head -n 1)
hidden() { [[ "$(xprop -id "$win" _NET_WM_STATE 2>/dev/null)" == *_NET_WM_STATE_HIDDEN* ]]; }
active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$win" ]; }
xdotool windowminimize --sync "$win"
e2e_until hidden || fail "the window manager did not minimize the window"

timeout 10 "$BIN" || fail "the second launch failed ($?)"
e2e_until eval '! hidden' || fail "the window stayed minimized after a second launch"
e2e_until active || fail "the window is not the active one"
[ "$(visible_windows "$first")" -eq 1 ] || fail "a second launch opened another window"

(cd "$E2E_DIR" && timeout 10 "$BIN" data) || fail "the second launch with a folder failed ($?)"
wait_windows "$first" 2 # its confirmation alert
answer_alert "$first" Return
wait_exit_ok "$first"
[ ! -e "$XDG_RUNTIME_DIR/brackwater.socket" ] || fail "the socket was left behind"
[ ! -s "$data/side" ] && [ ! -s "$data/plain" ] || fail "a file was not flipped"
[ "$(tail -c +83 "$data/._plain")" = "plain data" ] || fail "plain's data is not in its new sidecar"
echo "ok: a second launch un-minimized and activated the window; a folder was handed over and flipped"
