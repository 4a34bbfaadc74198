#!/usr/bin/env bash
# Preferences from the keyboard under Xvfb: the menu opened with its mnemonic,
# Preferences chosen, the next operation picked in the popup, the window closed
# with Return; the choice is in the store file, and the window comes back with
# it. Escape then closes the window as Cancel does. Ctrl+O then chooses a
# folder to run on, and Ctrl+Q quits.
#
# usage: bash preferences_keyboard.sh <brackwater-binary> <build-dir>
source "$(dirname "$0")/lib.bash"
e2e_window_setup "$@"
STORE="$XDG_CONFIG_HOME/brackwater/preferences.json"
windows_are() { [ "$(visible_windows "$app")" -eq "$1" ]; }
# A value of the store file as JSON text (2, true), or "absent" (no file, or
# no such key in it).
stored() {
    { tr -d ' \n\t' <"$STORE" | grep -oE "\"$1\":[^,}]+" | cut -d: -f2; } 2>/dev/null || echo absent
}
open_preferences() {
    xdotool windowfocus --sync "$main_window"
    xdotool key alt+b sleep 0.3 key p
    e2e_until windows_are 2 || fail "Preferences did not open"
    sleep 0.3
}

e2e_start 1
app=$pid main_window=$(xdotool search --onlyvisible --pid "$pid" | head -1)
sleep 0.5

open_preferences
[ "$(stored FunctionType)" = absent ] || fail "opening Preferences wrote to the store"
# The popup has the focus; Down picks the next operation, and Return is OK. The
# store file read here is the one check that a choice is stored at once.
xdotool key Down sleep 0.3 key Return
e2e_until windows_are 1 || fail "Preferences did not close"
[ "$(stored FunctionType)" = 2 ] || fail "the operation picked was not stored: $(stored FunctionType)"

# Again: the popup shows the stored operation; the checkbox is toggled with
# the keyboard, then Escape closes the window and keeps the change.
open_preferences
xdotool key Down sleep 0.3 key Tab space sleep 0.3
[ "$(stored QuitWhenDone)" = false ] || fail "the checkbox was not stored off"
xdotool key Escape
e2e_until windows_are 1 || fail "Preferences did not close"
[ "$(stored FunctionType)" = 3 ] || fail "the second choice, from item 2, was not kept through Cancel"

# Ctrl+O opens the chooser; a folder typed into its name field and Return
# choose it, the confirmation follows as for a drop, and the folder's file
# loses its resource fork (the operation picked above). With "quit when done"
# now off, the window stays until Ctrl+Q. (What the chooser hands on:
# OpenCommand_test.)
mkdir -p "$E2E_DIR/chosen"
printf 'one' >"$E2E_DIR/chosen/one"
setfattr -n user.com.apple.ResourceFork -v fork "$E2E_DIR/chosen/one"
open_chooser() {
    xdotool windowfocus --sync "$main_window"
    xdotool key --window "$main_window" ctrl+o
    E2E_WAIT=2 e2e_until eval 'chooser=$(xdotool search --onlyvisible --name "Open Files and Folders" | head -n 1)'
}
E2E_WAIT=2 e2e_until open_chooser || fail "Ctrl+O did not open the chooser"
xdotool windowfocus --sync "$chooser" 2>/dev/null || true
xdotool type --delay 5 "\"$E2E_DIR/chosen\""
xdotool key Return
wait_windows "$app" 2 # the confirmation alert
answer_alert "$app" Return
fork_gone() { ! getfattr -n user.com.apple.ResourceFork "$E2E_DIR/chosen/one" >/dev/null 2>&1; }
e2e_until fork_gone || fail "the chosen folder's file kept its resource fork"

xdotool windowfocus --sync "$main_window"
xdotool key ctrl+q
wait_exit_ok "$app" 10
echo "PASS: preferences and Open from the keyboard"
