#!/usr/bin/env bash
# Preferences from the keyboard under Xvfb: the menu opened with its mnemonic,
# Preferences chosen, the next operation picked in the popup, the window closed
# with Return; the choice is in the store file, and the window comes back with
# it. Escape then closes the window as Cancel does, and Ctrl+Q quits.
#
# usage: bash preferences_keyboard.sh <brackwater-binary> <build-dir>
# BRACKWATER_E2E_SHOTS=<folder> keeps screenshots of the Preferences window.
set -euo pipefail
BIN=$(realpath "$1")
BUILD=$(realpath "$2")
source "$(dirname "$0")/lib.bash"
e2e_under_xvfb "$@"
e2e_setup
unset QT_QPA_PLATFORM

STORE="$XDG_CONFIG_HOME/brackwater/preferences.json"
command -v xdotool >/dev/null || fail "xdotool is not installed (scripts/install-deps.sh)"
# Waits until the process shows exactly $2 windows.
wait_window_count() {
    local i
    for ((i = 0; i < 100; i++)); do
        [ "$(visible_windows "$1")" -eq "$2" ] && return 0
        sleep 0.1
    done
    fail "process $1 does not show $2 windows"
}
# A value of the store file as JSON text (2, true), or "absent".
stored() {
    local value=""
    [ -f "$STORE" ] && value=$(tr -d ' \n\t' <"$STORE" | grep -oE "\"$1\":[^,}]+" | cut -d: -f2 || true)
    echo "${value:-absent}"
}
open_preferences() {
    xdotool windowfocus --sync "$main_window"
    xdotool key alt+b
    sleep 0.3
    xdotool key p
    wait_window_count "$app" 2
    sleep 0.3
}

"$BIN" >"$E2E_DIR/app.log" 2>&1 &
app=$!
E2E_PIDS=$app
wait_windows "$app" 1
main_window=$(xdotool search --onlyvisible --pid "$app" | head -1)
sleep 0.5

open_preferences
e2e_shot preferences
[ "$(stored FunctionType)" = absent ] || fail "opening Preferences wrote to the store"
# The popup has the focus; Down picks the next operation, stored at once.
xdotool key Down
sleep 0.3
[ "$(stored FunctionType)" = 2 ] || fail "the operation picked was not stored: $(stored FunctionType)"
xdotool key Return
wait_window_count "$app" 1
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
e2e_shot preferences-changed
xdotool key Escape
wait_window_count "$app" 1
[ "$(stored FunctionType)" = 3 ] || fail "Cancel undid the change"

xdotool windowfocus --sync "$main_window"
xdotool key ctrl+q
wait_exit_ok "$app" 10
echo "PASS: preferences from the keyboard"
