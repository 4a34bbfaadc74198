#!/usr/bin/env bash
# Starts Brackwater with files on the command line, as "select all" in a file
# manager with hidden files shown would: a file and its "._" sidecar, an
# orphan sidecar, a file named twice, and a file with a hard link outside.
# The alert is confirmed with Return (delete the data forks). Afterwards the
# sidecar still holds its file's resource fork and type/creator byte for byte,
# the orphan was handled as the ordinary file it is, and the other name of the
# hard-linked file keeps its bytes.
set -euo pipefail
BIN=$(realpath "$1")
source "$(dirname "$0")/lib.bash"
e2e_under_xvfb "$@"
e2e_setup

e2e_preferences '"FunctionType": 2'
data="$E2E_DIR/data" outside="$E2E_DIR/outside"
mkdir -p "$data" "$outside"
printf 'foo data' >"$data/foo"
# A sidecar as macOS writes it: Finder info (TEXT/ttxt) at 50, a 4-byte fork at 82.
{
    printf '\0\5\26\7\0\2\0\0Mac OS X        \0\2'
    printf '\0\0\0\11\0\0\0\62\0\0\0\40'
    printf '\0\0\0\2\0\0\0\122\0\0\0\4'
    printf 'TEXTttxt'
    head -c 24 /dev/zero
    printf 'fork'
} >"$data/._foo"
cp "$data/._foo" "$E2E_DIR/sidecar.orig"
printf 'orphan' >"$data/._orphan"
printf 'IMPORTANT\n' >"$outside/backup"
ln "$outside/backup" "$data/linked"

e2e_start 2 "$data/._foo" "$data/foo" "$data/._orphan" "$data/foo" "$data/linked"
answer_alert "$pid" Return
# The hard-linked file could not be changed: the window stays to say so, even
# though Brackwater quits after a run by default.
sleep 2.5
kill -0 "$pid" 2>/dev/null || fail "the window closed after a run with a failure"

cmp -s "$data/._foo" "$E2E_DIR/sidecar.orig" || fail "the sidecar of foo was changed"
[ ! -s "$data/foo" ] || fail "foo still has its data fork"
[ ! -s "$data/._orphan" ] || fail "the orphan sidecar was not handled as a file"
[ "$(cat "$outside/backup")" = IMPORTANT ] || fail "the other name of the hard-linked file lost its bytes"
[ "$(cat "$data/linked")" = IMPORTANT ] || fail "the hard-linked file was changed"
[ ! -e "$data/._._foo" ] || fail "a sidecar of the sidecar appeared"
quit_window "$pid"
[ "$E2E_STATUS" -eq 0 ] || fail "exit status $E2E_STATUS"
echo "ok: the sidecar kept foo's fork and type, the hard link kept its bytes"
