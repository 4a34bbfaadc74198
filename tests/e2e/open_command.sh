#!/usr/bin/env bash
# The window without drag and drop: Ctrl+O in the main window opens the
# chooser; a folder typed into its name field and Return choose it, the
# confirmation follows as for a drop, and the folder's files are changed.
source "$(dirname "$0")/lib.bash"
e2e_window_setup "$@"

e2e_preferences '"FunctionType": 2'
mkdir -p "$E2E_DIR/data/chosen"
printf 'one' >"$E2E_DIR/data/chosen/one"
printf 'left alone' >"$E2E_DIR/data/other"

e2e_start 1
open_chooser() {
    e2e_focus_main "$pid"
    xdotool key --window "$win" ctrl+o
    E2E_WAIT=2 e2e_until eval 'chooser=$(xdotool search --onlyvisible --name "Open Files and Folders" | head -n 1)'
}
E2E_WAIT=2 e2e_until open_chooser || fail "Ctrl+O did not open the chooser"
xdotool windowfocus --sync "$chooser" 2>/dev/null || true
xdotool type --delay 5 "\"$E2E_DIR/data/chosen\""
xdotool key Return
wait_windows "$pid" 2 # the confirmation alert
answer_alert "$pid" Return
wait_exit_ok "$pid"
[ ! -s "$E2E_DIR/data/chosen/one" ] || fail "the chosen folder's file was not changed"
[ "$(cat "$E2E_DIR/data/other")" = "left alone" ] || fail "a file that was not chosen changed"
echo "ok: Ctrl+O chose a folder, which was handled as a drop"
