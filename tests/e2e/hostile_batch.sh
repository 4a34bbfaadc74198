#!/bin/bash
# The batch mode of the real binary on a machine without any display (no X,
# no Wayland, no session bus, and a Qt platform that would abort if a window
# were ever attempted): bad usage, a malformed sidecar asked about with --info,
# and trees that fight back: a FIFO, symbolic-link loops and links out of the
# tree, a read-only file system, a tree deeper than PATH_MAX, names of 255
# bytes and names that are not UTF-8: one sample each. Each run ends within its
# time limit with its exit status, reports every refused file with its code,
# and changes nothing it was not asked to. (Every usage error and its reason, the question on a terminal,
# dry runs, a folder an ordinary user may not list, a file system mounted
# inside the tree, --info on each store: BatchMode_test; a full file system and
# a folder the user may not write: HostileTrees_test; root's files refused to
# nobody with afpAccessDenied: ForkStore_test.)
#   hostile_batch.sh <brackwater> <build-dir>
BIN=$(realpath "$1")
CORPUS=$(realpath "$(dirname "$0")/../corpus")
source "$(dirname "$0")/lib.bash"
set +e # each status is checked where it matters
e2e_setup
WORK=$E2E_DIR
trap 'umount "$WORK/ro" 2>/dev/null; e2e_cleanup' EXIT

# run NAME STATUS [CODE COUNT] -- COMMAND...: the command within 60 s without a
# display (xcb is forced, so that a window attempt aborts), its exit status
# checked and, given a code, the number of files reported with it on stderr.
run() {
    local name=$1 want=$2 code= count= got
    shift 2
    [ "$1" = -- ] || { code=$1 count=$2 && shift 2; }
    shift
    env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR QT_QPA_PLATFORM=xcb \
        timeout 60 "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
    got=$?
    [ "$got" -ne 124 ] || fail "$name: still running after 60 s"
    [ "$got" -eq "$want" ] || fail "$name: exit status $got, expected $want: $(head -3 "$WORK/$name.err")"
    [ -z "$code" ] || [ "$(grep -c "$code" "$WORK/$name.err")" -eq "$count" ] ||
        fail "$name: not $count files reported with $code: $(head -5 "$WORK/$name.err")"
}

mkdir -p "$WORK/outside"
echo precious >"$WORK/outside/victim"
setfattr -n user.xdg.comment -v mine "$WORK/outside/victim"
printf 'x' >"$WORK/outside/bad"
cp "$CORPUS/malformed/overlapping-entries.ad" "$WORK/outside/._bad"
outside=$(e2e_snapshot "$WORK/outside")

# Refused before any file is touched, with status 2 (every usage error:
# BatchOptionsTest): paths alone, which ask for the window that cannot open
# here (one line naming the batch mode's options, never Qt's abort); a run
# without --yes nor a terminal, whatever comes on stdin.
run window 2 -- "$BIN" "$WORK/outside/victim"
[ "$(wc -l <"$WORK/window.err")" -eq 1 ] && grep -q -- '--operation' "$WORK/window.err" &&
    grep -q -- '--info' "$WORK/window.err" || fail "no display: stderr was '$(cat "$WORK/window.err")'"
run no-yes 2 -- "$BIN" --operation flip "$WORK/outside" <<<y
grep -q -- '--yes' "$WORK/no-yes.err" && [ ! -s "$WORK/no-yes.out" ] || fail "without --yes: $(cat "$WORK/no-yes.err")"
# --info on a malformed sidecar tells its reason, with status 0.
run info 0 -- "$BIN" --info --json "$WORK/outside/bad"
grep -q '"sidecar":"malformed","sidecar_problem":"overlapping entries"' "$WORK/info.out" ||
    fail "--info --json: $(cat "$WORK/info.out")"
[ "$(e2e_snapshot "$WORK/outside")" = "$outside" ] || fail "a refused run or --info changed a file"

# A FIFO and links: loops, a link to the parent, links out of the tree.
mkdir -p "$WORK/links/sub"
echo data >"$WORK/links/real"
mkfifo "$WORK/links/fifo"
ln -s b "$WORK/links/a"
ln -s a "$WORK/links/b"
ln -s ../.. "$WORK/links/sub/up"
ln -s "$WORK/outside" "$WORK/links/out"
ln -s "$WORK/outside/victim" "$WORK/links/victim"
ln -s victim-side "$WORK/links/._victim" # named like the sidecar of a link
ln -s "$WORK/links" "$WORK/links/top"    # the folder given, by its absolute path
run links 1 "notAFileErr (-1302)" 8 -- "$BIN" --operation delete-data --yes "$WORK/links"
grep -q "^brackwater: $WORK/links/fifo: notAFileErr (-1302): " "$WORK/links.err" || fail "FIFO: $(cat "$WORK/links.err")"
[ "$(readlink "$WORK/links/a")" = b ] && [ ! -s "$WORK/links/real" ] || fail "links: a link was changed, or real not"
# A read-only file system (a tmpfs remounted read-only); one operation (every
# operation on such files: ForkStore_test).
mkdir -p "$WORK/ro"
if mount -t tmpfs -o size=1m tmpfs "$WORK/ro" 2>/dev/null; then
    mkdir "$WORK/ro/in"
    head -c 3000 /dev/urandom >"$WORK/ro/in/f1"
    head -c 100 /dev/urandom >"$WORK/ro/in/f2"
    printf '\0\5\26\7\0\2\0\0Mac OS X        \0\1\0\0\0\2\0\0\0\46\0\0\0\3abc' >"$WORK/ro/in/._f2"
    mount -o remount,ro "$WORK/ro"
    ro=$(e2e_snapshot "$WORK/ro")
    run ro 1 "wPrErr (-44)" 2 -- "$BIN" --operation flip --yes "$WORK/ro/in"
    [ "$(e2e_snapshot "$WORK/ro")" = "$ro" ] || fail "read-only: the tree changed"
else
    echo "read-only file system: not run (it needs root)"
fi

# Deeper than PATH_MAX, with 200-byte folder names.
long=$(printf 'd%.0s' $(seq 200))
(
    cd "$WORK" && mkdir deep && cd deep
    for i in $(seq 25); do
        echo "level $i" >f
        mkdir "$long" && cd "$long"
    done
    echo bottom >f
)
run deep 0 -- "$BIN" --operation flip --yes "$WORK/deep"
grep -q "^26 changed, 0 failed" "$WORK/deep.out" || fail "deep: $(tail -1 "$WORK/deep.out")"
# The bottom file's bytes are in its sidecar, after the 82-byte header.
bottom=$(cd "$WORK/deep" && for i in $(seq 25); do cd "$long"; done && tail -c +83 ._f)
[ "$bottom" = bottom ] || fail "deep: the bottom file's sidecar holds '$bottom'"

# Names of 255 bytes (no room for "._name": bdNamErr) and names not in UTF-8.
mkdir -p "$WORK/names"
n255=$(printf 'n%.0s' $(seq 255))
echo long >"$WORK/names/$n255"
echo roomy >"$WORK/names/$(printf 'r%.0s' $(seq 253))"
echo broken >"$WORK/names/$(printf '\377\376(\200')"
run names 1 "bdNamErr (-37)" 1 -- "$BIN" --operation flip --yes "$WORK/names"
grep -q "^2 changed, 1 failed" "$WORK/names.out" || fail "names: $(tail -1 "$WORK/names.out")"
[ "$(cat "$WORK/names/$n255")" = long ] || fail "names: the 255-byte name lost its data fork"

[ "$(e2e_snapshot "$WORK/outside")" = "$outside" ] || fail "a file outside the dropped trees changed"
echo "hostile trees: all runs ended, refused what they had to with its code, and kept the rest"
