#!/usr/bin/env bash
# Starts Brackwater with a folder, confirms the alert with Return, and checks
# that every file was flipped (data fork empty, its bytes in the ._name sidecar
# after the 82-byte header) and that the application ended about a second later.
set -euo pipefail
BIN=$(realpath "$1")
source "$(dirname "$0")/lib.bash"
e2e_under_xvfb "$@"
e2e_setup

data="$E2E_DIR/data"
mkdir -p "$data/sub"
printf 'alpha' >"$data/one"
printf 'bravo bravo' >"$data/two"
printf '\0\1\2 binary \377' >"$data/sub/three"
head -c 100000 /dev/urandom >"$data/sub/big"
cp -r "$data" "$E2E_DIR/original"

"$BIN" "$data" &
pid=$!
E2E_PIDS=$pid
wait_windows "$pid" 2 # the main window and the confirmation alert
answer_alert "$pid" Return
confirmed=$E2E_ANSWERED
wait_exit "$pid" 20
ended=$(now_ms)
[ "$E2E_STATUS" -eq 0 ] || fail "exit status $E2E_STATUS"
[ ! -e "$XDG_RUNTIME_DIR/brackwater.socket" ] || fail "the socket was left behind"

for f in one two sub/three sub/big; do
    [ -f "$data/$f" ] || fail "$f is gone"
    [ ! -s "$data/$f" ] || fail "$f still has a data fork"
    side="$(dirname "$data/$f")/._$(basename "$f")"
    [ -f "$side" ] || fail "no sidecar for $f"
    tail -c +83 "$side" | cmp -s - "$E2E_DIR/original/$f" || fail "sidecar of $f does not hold its bytes"
done
elapsed=$((ended - confirmed))
# One second after the run, plus the quarter-second fade; the run itself is short.
[ "$elapsed" -ge 1000 ] || fail "ended $elapsed ms after confirming: too soon"
[ "$elapsed" -le 5000 ] || fail "ended $elapsed ms after confirming: too late"
echo "ok: flipped 4 files, ended ${elapsed} ms after the confirmation"
