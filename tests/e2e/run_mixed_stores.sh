#!/usr/bin/env bash
# Starts Brackwater with a folder whose files keep their resource forks in
# different stores (a sidecar, netatalk 2's .AppleDouble headers, an extended
# attribute, none), confirms the alert with Return as a person would, and
# checks that the program ended by itself, took its socket with it and flipped
# every file, giving a sidecar only to the file without a fork. (Each store's
# bytes after a flip: FaultInjection_test over every fork shape; the window's
# run handles files as the batch mode does: ProcessingRun_test.)
set -euo pipefail
source "$(dirname "$0")/lib.bash"
e2e_window_setup "$@"
CORPUS=$(realpath "$(dirname "$0")/../corpus")

data="$E2E_DIR/data"
mkdir -p "$data/.AppleDouble"
for f in side atalk mac plain; do printf '%s data' "$f" >"$data/$f"; done
cp "$CORPUS/peers/unar-hidden.ad" "$data/._side"
cp "$CORPUS/peers/netatalk2-fork.ad" "$data/.AppleDouble/atalk"
setfattr -n user.com.apple.ResourceFork -v "mac fork" "$data/mac"

e2e_start 2 "$data" # the main window and the confirmation alert
answer_alert "$pid" Return
wait_exit_ok "$pid"
[ ! -e "$XDG_RUNTIME_DIR/brackwater.socket" ] || fail "the socket was left behind"
for f in side atalk mac plain; do [ ! -s "$data/$f" ] || fail "$f was not flipped"; done
[ ! -e "$data/._atalk" ] && [ ! -e "$data/._mac" ] || fail "a file with a fork got a sidecar"
[ "$(tail -c +83 "$data/._plain")" = "plain data" ] || fail "plain's data is not in its new sidecar"
echo "ok: flipped 4 files from the window, each fork in its own store"
