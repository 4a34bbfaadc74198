#!/usr/bin/env bash
# A real drag and drop between two programs under Xvfb: a file dragged from a
# separate Qt program onto the main window (XDND), taken as a copy, confirmed
# with Return in the alert, and processed; the application then says goodbye
# and quits by itself. (A drag of text alone, refused: DropTarget and
# DragEvents in DragTarget_test and Drag_test.)
#
# usage: bash window_drop.sh <brackwater-binary> <build-dir>
source "$(dirname "$0")/lib.bash"
e2e_window_setup "$@"
DRAGSOURCE="$BUILD/tests/dragsource"

# Delete the data fork, then quit when done.
mkdir -p "$XDG_CONFIG_HOME/brackwater"
echo '{"FunctionType": 2, "QuitWhenDone": true}' >"$XDG_CONFIG_HOME/brackwater/preferences.json"
printf 'the data fork' >"$E2E_DIR/dropped file.txt"
e2e_start 1
app=$pid main_window=$(xdotool search --onlyvisible --pid "$pid" | head -1)
sleep 0.5

# A file: pressed on the source's window, moved in steps onto the main window
# and let go there; taken as a copy, then the confirmation alert.
BIN=$DRAGSOURCE e2e_start 1 "$E2E_DIR/dropped file.txt" >"$E2E_DIR/source.log" 2>&1
source=$pid source_window=$(xdotool search --onlyvisible --pid "$pid" | head -1)
sleep 0.3
xdotool mousemove --sync --window "$source_window" 100 60 sleep 0.2 mousedown 1 sleep 0.2
for step in 5 10 20 30 40; do
    xdotool mousemove --window "$source_window" $((100 - step)) 60 sleep 0.1
done
for step in 1 2 3 4 5; do
    xdotool mousemove --window "$main_window" $((100 + step * 20)) $((60 + step * 5)) sleep 0.15
done
xdotool mouseup 1
wait_exit_ok "$source" 10
grep -q "drag ended: copy" "$E2E_DIR/source.log" || fail "the file drag was not taken as a copy: $(cat "$E2E_DIR/source.log")"
wait_windows "$app" 2
[ "$(stat -c %s "$E2E_DIR/dropped file.txt")" -eq 13 ] || fail "the file changed before confirmation"
xdotool key Return

# The run, "Bye.", the fade and the end of the process.
wait_exit_ok "$app"
[ "$(stat -c %s "$E2E_DIR/dropped file.txt")" -eq 0 ] || fail "the dropped file's data fork was not deleted"
echo "PASS: window drop"
