#!/bin/bash
# A real drag and drop between two programs under Xvfb: a file dragged from a
# separate Qt program onto the main window (XDND), taken as a copy, confirmed
# with Return in the alert, and processed; the application then says goodbye
# and quits by itself. A drag of text alone is refused and changes nothing.
#
# usage: bash window_drop.sh <brackwater-binary> <build-dir>
# BRACKWATER_E2E_SHOTS=<folder> keeps screenshots taken during the drag.
set -euo pipefail

BIN=$(realpath "$1")
BUILD=$(realpath "$2")
SELF=$(realpath "$0")

if [ -z "${BRACKWATER_E2E_IN_XVFB:-}" ]; then
    exec env BRACKWATER_E2E_IN_XVFB=1 xvfb-run -a -s "-screen 0 1280x800x24" bash "$SELF" "$BIN" "$BUILD"
fi

DRAGSOURCE="$BUILD/tests/dragsource"
GRAB="$BUILD/tests/grab_screen"
WORK=$(mktemp -d)
APP=""
SRC=""
cleanup() {
    [ -n "$SRC" ] && kill "$SRC" 2>/dev/null || true
    [ -n "$APP" ] && kill "$APP" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

export XDG_CONFIG_HOME="$WORK/config" XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -p "$XDG_CONFIG_HOME/brackwater"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
# Delete the data fork, then quit when done.
printf '{"FunctionType": 2, "QuitWhenDone": true}\n' >"$XDG_CONFIG_HOME/brackwater/preferences.json"
printf 'the data fork' >"$WORK/dropped file.txt"
printf 'untouched' >"$WORK/text only.txt"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
shot() {
    if [ -n "${BRACKWATER_E2E_SHOTS:-}" ]; then "$GRAB" "$BRACKWATER_E2E_SHOTS/$1.png" || true; fi
}
[ -x "$DRAGSOURCE" ] || fail "no drag source at $DRAGSOURCE: build the tests first"
command -v xdotool >/dev/null || fail "xdotool is not installed (scripts/install-deps.sh)"

visible_windows() { xdotool search --onlyvisible --pid "$1" 2>/dev/null | wc -l; }
wait_windows() { # pid count
    for _ in $(seq 100); do
        [ "$(visible_windows "$1")" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}

"$BIN" >"$WORK/app.log" 2>&1 &
APP=$!
wait_windows "$APP" 1 || fail "the main window did not appear"
MAIN=$(xdotool search --onlyvisible --pid "$APP" | head -1)
sleep 0.5

# Presses on the source's window, moves in steps onto the main window and
# lets go there; prints what the source says about the drag's end.
drag_onto_main() { # label dragsource-arguments...
    local label=$1
    shift
    "$DRAGSOURCE" --at 800,100 "$@" >"$WORK/source.log" 2>&1 &
    SRC=$!
    wait_windows "$SRC" 1 || fail "the drag source did not appear"
    local source_window
    source_window=$(xdotool search --onlyvisible --pid "$SRC" | head -1)
    sleep 0.3
    xdotool mousemove --sync --window "$source_window" 100 60
    sleep 0.2
    xdotool mousedown 1
    sleep 0.2
    for step in 5 10 20 30 40; do
        xdotool mousemove --window "$source_window" $((100 - step)) 60
        sleep 0.1
    done
    for step in 1 2 3 4 5; do
        xdotool mousemove --window "$MAIN" $((100 + step * 20)) $((60 + step * 5))
        sleep 0.15
    done
    shot "$label-over-window"
    xdotool mouseup 1
    for _ in $(seq 50); do
        kill -0 "$SRC" 2>/dev/null || break
        sleep 0.1
    done
    kill "$SRC" 2>/dev/null || true
    wait "$SRC" 2>/dev/null || true
    SRC=""
    cat "$WORK/source.log"
}

# Text alone: the window refuses it, no alert comes, nothing changes.
ended=$(drag_onto_main text --text-only "$WORK/text only.txt")
echo "text-only drag: $ended"
[[ "$ended" == *"drag ended: ignore"* ]] || fail "the text-only drag was not refused: $ended"
sleep 1
[ "$(visible_windows "$APP")" -eq 1 ] || fail "a refused drag brought up a window"

# A file: taken as a copy, then the confirmation alert.
ended=$(drag_onto_main file "$WORK/dropped file.txt")
echo "file drag: $ended"
[[ "$ended" == *"drag ended: copy"* ]] || fail "the file drag was not taken as a copy: $ended"
wait_windows "$APP" 2 || fail "no confirmation alert after the drop"
shot alert
[ "$(stat -c %s "$WORK/dropped file.txt")" -eq 13 ] || fail "the file changed before confirmation"
xdotool key Return

# The run, "Bye.", the fade and the end of the process.
for _ in $(seq 100); do
    kill -0 "$APP" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$APP" 2>/dev/null && fail "the application did not quit when done"
status=0
wait "$APP" || status=$?
APP=""
[ "$status" -eq 0 ] || fail "the application ended with status $status"
[ "$(stat -c %s "$WORK/dropped file.txt")" -eq 0 ] || fail "the dropped file's data fork was not deleted"
[ "$(cat "$WORK/text only.txt")" = "untouched" ] || fail "the text-only drag changed a file"
echo "PASS: window drop"
