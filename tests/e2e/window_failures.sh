#!/usr/bin/env bash
# What the window shows when things go wrong, as a user meets it:
# - files "bad one two", bad with a malformed sidecar: one and two are flipped,
#   bad keeps every byte, the window stays open (although it quits after a run
#   by default), and Alt+D opens the list of failures with the reason;
# - during the count of a folder of 150,000 files the window stays live: the
#   Preferences shortcut opens Preferences within a second, and Quit ends the
#   run and the application.
# Screenshots of the result state and the list go to $BRACKWATER_E2E_SHOTS when set.
set -euo pipefail
BIN=$(realpath "$1")
BUILD=$(realpath "$2")
source "$(dirname "$0")/lib.bash"
e2e_under_xvfb "$@"
e2e_setup
CORPUS="$(cd "$(dirname "$0")/../corpus" && pwd)"

data="$E2E_DIR/data"
mkdir -p "$data"
printf 'bad data' >"$data/bad"
cp "$CORPUS/malformed/duplicate-id.ad" "$data/._bad"
printf 'one' >"$data/one"
printf 'two' >"$data/two"
cp "$data/._bad" "$E2E_DIR/bad-sidecar"

e2e_start 2 "$data/bad" "$data/one" "$data/two"
answer_alert "$pid" Return
sleep 2.5
kill -0 "$pid" 2>/dev/null || fail "the window closed after a run with a failure"
[ ! -s "$data/one" ] && [ ! -s "$data/two" ] || fail "the files after the failed one were not flipped"
[ -s "$data/._one" ] && [ -s "$data/._two" ] || fail "no sidecars for one and two"
[ "$(cat "$data/bad")" = "bad data" ] || fail "bad lost its data fork"
cmp -s "$data/._bad" "$E2E_DIR/bad-sidecar" || fail "bad's malformed sidecar was changed"
e2e_shot window-failures
e2e_focus_main "$pid"
xdotool key alt+d
wait_windows "$pid" 2
sleep 0.5
e2e_shot window-failure-details
xdotool key Return
for ((i = 0; i < 50; i++)); do [ "$(visible_windows "$pid")" -lt 2 ] && break; sleep 0.1; done
quit_window "$pid"

# A folder of 150,000 files: the window answers while it is counted.
big="$E2E_DIR/big"
mkdir -p "$big"
(cd "$big" && seq -f 'f%06g' 1 150000 | xargs touch)
e2e_preferences '"FunctionType": 3, "QuitWhenDone": false'
e2e_start 2 "$big"
answer_alert "$pid" Return
e2e_focus_main "$pid"
pressed=$(now_ms)
xdotool key ctrl+comma
for ((i = 0; i < 100; i++)); do
    xdotool search --onlyvisible --pid "$pid" --name 'Preferences' >/dev/null 2>&1 && break
    sleep 0.01
done
opened=$(($(now_ms) - pressed))
xdotool search --onlyvisible --pid "$pid" --name 'Preferences' >/dev/null 2>&1 ||
    fail "Preferences did not open during the run"
[ "$opened" -le 1000 ] || fail "Preferences took $opened ms to open during the count"
sleep 0.3
e2e_shot window-counting
quit_window "$pid"
echo "ok: failures counted and listed, the window stayed; Preferences opened in $opened ms during the count"
