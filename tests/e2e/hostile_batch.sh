#!/bin/bash
# The batch mode on trees that fight back: symbolic-link loops and links out of
# the tree, a read-only file system, a tree the user may not write (run as
# nobody), a full file system, a tree deeper than PATH_MAX, names of 255
# bytes and names that are not UTF-8. Each run ends within its time limit,
# reports every refused file with its code, and changes nothing it was not
# asked to. (A file system mounted inside the tree: BatchMode_test.)
#   hostile_batch.sh <brackwater> <build-dir>
set -uo pipefail
BIN="$1"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/brackwater-hostile.XXXXXX")"
chmod 755 "$WORK"
cleanup() {
    for m in "$WORK"/ro "$WORK"/full; do umount "$m" 2>/dev/null; done
    [ -n "${KEEP:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Contents, modes and attributes of every entry below a folder.
snap() {
    (cd "$1" && find . -printf '%p %M %l\n' | sort &&
        find . -type f -exec sha256sum {} + | sort &&
        getfattr -R -h -d -m - -e hex . 2>/dev/null)
}

# run NAME STATUS ARGS...: the batch mode within 60 s, its exit status checked.
run() {
    local name="$1" want="$2"
    shift 2
    timeout 60 "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
    local got=$?
    [ "$got" -eq 124 ] && fail "$name: still running after 60 s"
    [ "$got" -eq "$want" ] || fail "$name: exit status $got, expected $want"
}

# refused NAME CODE COUNT: COUNT files reported with CODE.
refused() {
    local n
    n=$(grep -c "$2" "$WORK/$1.err")
    [ "$n" -eq "$3" ] || fail "$1: $n files reported with $2, expected $3"
}

mkdir -p "$WORK/outside"
echo precious >"$WORK/outside/victim"
setfattr -n user.xdg.comment -v mine "$WORK/outside/victim"
outside=$(snap "$WORK/outside")

# Links: loops, a link to the parent, links out of the tree.
mkdir -p "$WORK/links/sub"
echo data >"$WORK/links/real"
ln -s b "$WORK/links/a"
ln -s a "$WORK/links/b"
ln -s self "$WORK/links/self"
ln -s ../.. "$WORK/links/sub/up"
ln -s "$WORK/outside" "$WORK/links/out"
ln -s "$WORK/outside/victim" "$WORK/links/victim"
ln -s victim-side "$WORK/links/._victim" # named like the sidecar of a link
ln -s "$WORK/links" "$WORK/links/top"    # the folder given, by its absolute path
for op in flip delete-data delete-resource; do
    run "links-$op" 1 "$BIN" --operation "$op" --yes "$WORK/links"
    refused "links-$op" "notAFileErr (-1302)" 8
done
[ "$(readlink "$WORK/links/a")" = b ] || fail "links: a link was changed"

# A read-only file system (a tmpfs remounted read-only).
mkdir -p "$WORK/ro"
if mount -t tmpfs -o size=1m tmpfs "$WORK/ro" 2>/dev/null; then
    mkdir "$WORK/ro/in"
    head -c 3000 /dev/urandom >"$WORK/ro/in/f1"
    head -c 100 /dev/urandom >"$WORK/ro/in/f2"
    printf '\0\5\26\7\0\2\0\0Mac OS X        \0\1\0\0\0\2\0\0\0\46\0\0\0\3abc' >"$WORK/ro/in/._f2"
    mount -o remount,ro "$WORK/ro"
    before=$(snap "$WORK/ro")
    for op in flip delete-data delete-resource; do
        run "ro-$op" 1 "$BIN" --operation "$op" --yes "$WORK/ro/in"
        # f1 has no resource fork: nothing to delete, nothing refused.
        refused "ro-$op" "wPrErr (-44)" $([ $op = delete-resource ] && echo 1 || echo 2)
    done
    [ "$(snap "$WORK/ro")" = "$before" ] || fail "read-only: the tree changed"
else
    echo "read-only file system: not run (mount needs root)"
fi

# A tree the user may not write: root's files, the batch mode run as nobody.
mkdir -p "$WORK/locked/sub"
head -c 2000 /dev/urandom >"$WORK/locked/f"
setfattr -n user.com.apple.ResourceFork -v 0x0102030405 "$WORK/locked/f"
head -c 2000 /dev/urandom >"$WORK/locked/sub/g"
chmod -R a+rX "$WORK/locked"
before=$(snap "$WORK/locked")
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    for op in flip delete-data delete-resource; do
        run "locked-$op" 1 setpriv --reuid=nobody --regid=nogroup --clear-groups \
            "$BIN" --operation "$op" --yes "$WORK/locked"
        # Only f has a resource fork to delete; g's has nothing to do.
        refused "locked-$op" "afpAccessDenied (-5000)" $([ $op = delete-resource ] && echo 1 || echo 2)
    done
else
    for op in flip delete-data delete-resource; do
        run "locked-$op" 1 "$BIN" --operation "$op" --yes "$WORK/locked"
    done
fi
[ "$(snap "$WORK/locked")" = "$before" ] || fail "locked: the tree changed"

# A full file system: a 1 MiB tmpfs filled up; then room again, and a rerun.
mkdir -p "$WORK/full"
if mount -t tmpfs -o size=1m tmpfs "$WORK/full" 2>/dev/null; then
    mkdir "$WORK/full/in"
    for i in 1 2 3 4 5 6; do head -c $((30000 * i)) /dev/urandom >"$WORK/full/in/f$i"; done
    (cd "$WORK/full/in" && sha256sum f* >"$WORK/full.sums")
    dd if=/dev/zero of="$WORK/full/filler" bs=4k 2>/dev/null
    truncate -s -100k "$WORK/full/filler"
    run full 1 "$BIN" --operation flip --yes "$WORK/full/in"
    grep -q "dskFulErr (-34)" "$WORK/full.err" || fail "full: no file reported dskFulErr"
    ls -a "$WORK/full/in" | grep -q bwtmp && fail "full: a temporary file was left"
    rm "$WORK/full/filler"
    run full-rerun 0 "$BIN" --operation flip --yes "$WORK/full/in"
    for i in 1 2 3 4 5 6; do
        [ -s "$WORK/full/in/f$i" ] && fail "full: f$i still has its data fork"
        # The resource fork of a new sidecar starts at byte 82.
        sum=$(tail -c +83 "$WORK/full/in/._f$i" | sha256sum | cut -d' ' -f1)
        grep -q "$sum  f$i" "$WORK/full.sums" || fail "full: f$i's bytes are not in its resource fork"
    done
else
    echo "full file system: not run (mount needs root)"
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
run deep 0 "$BIN" --operation flip --yes "$WORK/deep"
grep -q "^26 changed, 0 failed" "$WORK/deep.out" || fail "deep: $(tail -1 "$WORK/deep.out")"
# The bottom file's bytes are in its sidecar, after the 82-byte header.
bottom=$(cd "$WORK/deep" && for i in $(seq 25); do cd "$long"; done && tail -c +83 ._f)
[ "$bottom" = bottom ] || fail "deep: the bottom file's sidecar holds '$bottom'"

# Names of 255 bytes (no room for "._name": bdNamErr) and names not in UTF-8.
mkdir -p "$WORK/names"
n255=$(printf 'n%.0s' $(seq 255))
n253=$(printf 'r%.0s' $(seq 253))
echo long >"$WORK/names/$n255"
echo roomy >"$WORK/names/$n253"
echo latin >"$WORK/names/$(printf 'caf\351')"
echo broken >"$WORK/names/$(printf '\377\376(\200')"
run names 1 "$BIN" --operation flip --yes "$WORK/names"
refused names "bdNamErr (-37)" 1
grep -q "^3 changed, 1 failed" "$WORK/names.out" || fail "names: $(tail -1 "$WORK/names.out")"
[ "$(cat "$WORK/names/$n255")" = long ] || fail "names: the 255-byte name lost its data fork"
# Deleting the resource forks works on every name, the longest included.
run names-rsrc 0 "$BIN" --operation delete-resource --yes "$WORK/names"
grep -q "^3 changed, 0 failed, 1 skipped" "$WORK/names-rsrc.out" ||
    fail "names-rsrc: $(tail -1 "$WORK/names-rsrc.out")"

[ "$(snap "$WORK/outside")" = "$outside" ] || fail "a file outside the dropped trees changed"
if [ "$failures" -gt 0 ]; then
    for f in "$WORK"/*.err; do echo "== $f"; head -5 "$f"; done
    exit 1
fi
echo "hostile trees: all runs ended, refused what they had to with its code, and kept the rest"
