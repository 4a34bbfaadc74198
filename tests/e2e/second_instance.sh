#!/usr/bin/env bash
# A second launch with a file hands it to the running instance and exits 0;
# the first instance asks, processes the file and ends. Then a killed instance
# leaves its socket behind and a new launch takes it over.
set -euo pipefail
BIN=$(realpath "$1")
source "$(dirname "$0")/lib.bash"
e2e_under_xvfb "$@"
e2e_setup

mkdir -p "$E2E_DIR/data"
printf 'second launch' >"$E2E_DIR/data/handed over"

"$BIN" &
first=$!
E2E_PIDS=$first
wait_windows "$first" 1
[ -S "$XDG_RUNTIME_DIR/brackwater.socket" ] || fail "no socket in the runtime folder"

(cd "$E2E_DIR/data" && timeout 10 "$BIN" "handed over") || fail "the second launch failed ($?)"
wait_windows "$first" 2 # its confirmation alert
answer_alert "$first" Return
wait_exit "$first" 20
[ "$E2E_STATUS" -eq 0 ] || fail "first instance exit status $E2E_STATUS"
[ ! -s "$E2E_DIR/data/handed over" ] || fail "the handed-over file was not processed"
[ -f "$E2E_DIR/data/._handed over" ] || fail "no sidecar for the handed-over file"

# A killed instance leaves its socket; the next launch takes it over.
printf 'after a crash' >"$E2E_DIR/data/later"
"$BIN" &
crashed=$!
E2E_PIDS=$crashed
wait_windows "$crashed" 1
kill -9 "$crashed"
wait "$crashed" 2>/dev/null || true
[ -S "$XDG_RUNTIME_DIR/brackwater.socket" ] || fail "the killed instance left no socket to test with"
"$BIN" "$E2E_DIR/data/later" &
third=$!
E2E_PIDS=$third
wait_windows "$third" 2
answer_alert "$third" Return
wait_exit "$third" 20
[ ! -s "$E2E_DIR/data/later" ] || fail "the instance after the crash did not process its file"
echo "ok: handed over to the running instance; a stale socket was taken over"
