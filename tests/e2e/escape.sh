#!/usr/bin/env bash
# Starts Brackwater with a folder and declines the alert with Escape: nothing on
# disk changes and the main window stays open, even though the default is to
# quit after a run.
set -euo pipefail
BIN=$(realpath "$1")
source "$(dirname "$0")/lib.bash"
e2e_under_xvfb "$@"
e2e_setup

data="$E2E_DIR/data"
mkdir -p "$data/sub"
printf 'alpha' >"$data/one"
printf 'bravo' >"$data/sub/two"
setfattr -n user.test -v kept "$data/one" 2>/dev/null || true
listing() { (cd "$data" && find . -printf '%p %s %T@\n' | sort && getfattr -R -d . 2>/dev/null | sort); }
before=$(listing)

"$BIN" "$data" &
pid=$!
E2E_PIDS=$pid
wait_windows "$pid" 2
answer_alert "$pid" Escape
sleep 2.5
kill -0 "$pid" 2>/dev/null || fail "the application ended after Escape"
[ "$(visible_windows "$pid")" -eq 1 ] || fail "expected the main window alone, found $(visible_windows "$pid") windows"
[ "$(listing)" = "$before" ] || fail "files changed after Escape"
kill "$pid"
wait_exit "$pid" 10
echo "ok: declined, nothing changed, window stayed open"
