#!/bin/bash
# Preferences from the keyboard under Xvfb: the menu opened with its mnemonic,
# Preferences chosen, the next operation picked in the popup, the window closed
# with Return; the choice is in the store file, and the window comes back with
# it. Escape then closes the window as Cancel does, and Ctrl+Q quits.
#
# usage: bash preferences_keyboard.sh <brackwater-binary> <build-dir>
# BRACKWATER_E2E_SHOTS=<folder> keeps a screenshot of the Preferences window.
set -euo pipefail

BIN=$(realpath "$1")
BUILD=$(realpath "$2")
SELF=$(realpath "$0")

if [ -z "${BRACKWATER_E2E_IN_XVFB:-}" ]; then
    exec env BRACKWATER_E2E_IN_XVFB=1 xvfb-run -a -s "-screen 0 1280x800x24" bash "$SELF" "$BIN" "$BUILD"
fi

GRAB="$BUILD/tests/grab_screen"
WORK=$(mktemp -d)
APP=""
cleanup() {
    [ -n "$APP" ] && kill "$APP" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

export XDG_CONFIG_HOME="$WORK/config" XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
STORE="$XDG_CONFIG_HOME/brackwater/preferences.json"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
shot() {
    if [ -n "${BRACKWATER_E2E_SHOTS:-}" ]; then "$GRAB" "$BRACKWATER_E2E_SHOTS/$1.png" || true; fi
}
command -v xdotool >/dev/null || fail "xdotool is not installed (scripts/install-deps.sh)"

visible_windows() { xdotool search --onlyvisible --pid "$APP" 2>/dev/null | wc -l; }
wait_windows() { # count
    for _ in $(seq 100); do
        [ "$(visible_windows)" -eq "$1" ] && return 0
        sleep 0.1
    done
    return 1
}
# A value of the store file as JSON text (2, true), or "absent".
stored() {
    local value=""
    [ -f "$STORE" ] && value=$(tr -d ' \n\t' <"$STORE" | grep -oE "\"$1\":[^,}]+" | cut -d: -f2 || true)
    echo "${value:-absent}"
}
open_preferences() {
    xdotool windowfocus --sync "$MAIN"
    xdotool key alt+b
    sleep 0.3
    xdotool key p
    wait_windows 2 || fail "Preferences did not open from the menu"
    sleep 0.3
}

"$BIN" >"$WORK/app.log" 2>&1 &
APP=$!
wait_windows 1 || fail "the main window did not appear"
MAIN=$(xdotool search --onlyvisible --pid "$APP" | head -1)
sleep 0.5

open_preferences
shot preferences
[ "$(stored FunctionType)" = absent ] || fail "opening Preferences wrote to the store"
# The popup has the focus; Down picks the next operation, stored at once.
xdotool key Down
sleep 0.3
[ "$(stored FunctionType)" = 2 ] || fail "the operation picked was not stored: $(stored FunctionType)"
xdotool key Return
wait_windows 1 || fail "Return did not close Preferences"
[ "$(stored FunctionType)" = 2 ] || fail "OK changed the stored operation"
[ "$(stored QuitWhenDone)" = absent ] || fail "OK wrote the untouched checkbox"

# Again: the popup shows the stored operation; the checkbox is toggled with
# the keyboard, then Escape closes the window and keeps the change.
open_preferences
xdotool key Down
sleep 0.3
[ "$(stored FunctionType)" = 3 ] || fail "the second choice was not stored from item 2"
xdotool key Tab space
sleep 0.3
[ "$(stored QuitWhenDone)" = false ] || fail "the checkbox was not stored off"
shot preferences-changed
xdotool key Escape
wait_windows 1 || fail "Escape did not close Preferences"
[ "$(stored FunctionType)" = 3 ] || fail "Cancel undid the change"

xdotool windowfocus --sync "$MAIN"
xdotool key ctrl+q
for _ in $(seq 50); do
    kill -0 "$APP" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$APP" 2>/dev/null && fail "Ctrl+Q did not quit"
status=0
wait "$APP" || status=$?
APP=""
[ "$status" -eq 0 ] || fail "the application ended with status $status"
echo "PASS: preferences from the keyboard"
