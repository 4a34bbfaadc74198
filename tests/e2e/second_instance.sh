#!/usr/bin/env bash
# A second launch with a file named relative to its own folder hands it to the
# running instance and exits 0; the first instance asks, processes the file and
# ends. (A socket left by a killed instance: DocumentRequests_test.)
set -euo pipefail
BIN=$(realpath "$1")
source "$(dirname "$0")/lib.bash"
e2e_under_xvfb "$@"
e2e_setup

mkdir -p "$E2E_DIR/data"
printf 'second launch' >"$E2E_DIR/data/handed over"

e2e_start 1
first=$pid
[ -S "$XDG_RUNTIME_DIR/brackwater.socket" ] || fail "no socket in the runtime folder"

(cd "$E2E_DIR/data" && timeout 10 "$BIN" "handed over") || fail "the second launch failed ($?)"
wait_windows "$first" 2 # its confirmation alert
answer_alert "$first" Return
wait_exit_ok "$first"
[ ! -s "$E2E_DIR/data/handed over" ] || fail "the handed-over file was not processed"
[ -f "$E2E_DIR/data/._handed over" ] || fail "no sidecar for the handed-over file"

echo "ok: handed over to the running instance"
