#!/usr/bin/env bash
# The window stays live while a run counts a folder of 150,000 files: the
# Preferences shortcut opens Preferences within a second, and Quit ends the run
# and the application. (Failures counted, listed with their reasons behind the
# Details button, the window kept open after them: ProcessingRun_test.)
set -euo pipefail
source "$(dirname "$0")/lib.bash"
e2e_window_setup "$@"

big="$E2E_DIR/big"
mkdir -p "$big"
(cd "$big" && seq -f 'f%06g' 1 150000 | xargs touch)
e2e_preferences '"FunctionType": 3, "QuitWhenDone": false'
e2e_start 2 "$big"
answer_alert "$pid" Return
e2e_focus_main "$pid"
preferences() { xdotool search --onlyvisible --pid "$pid" --name 'Preferences' >/dev/null 2>&1; }
xdotool key ctrl+comma
E2E_WAIT=1 e2e_until preferences || fail "Preferences did not open within a second during the count"
quit_window "$pid"
echo "ok: Preferences opened within a second during the count, and Quit ended the run"
