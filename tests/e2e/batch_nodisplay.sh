#!/bin/bash
# The batch mode of the real binary on a machine without any display: no X,
# no Wayland, no session bus, and a Qt platform that would abort if a window
# were ever attempted. Exit codes, report lines, dry runs that leave every
# byte and attribute as it was, refusal without a terminal, the question on a
# terminal, --info on peer sidecars. (A folder an ordinary user may not list:
# BatchMode_test.)
set -uo pipefail
BIN="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
CORPUS="$(cd "$(dirname "$0")/../corpus" && pwd)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
chmod 755 "$WORK"
FAILS=0
fail() { echo "FAIL: $*" >&2; FAILS=$((FAILS + 1)); }

# No display of any kind; xcb is forced so that a window attempt aborts.
bw() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR \
        QT_QPA_PLATFORM=xcb "$BIN" "$@"
}

expect_status() {  # expect_status WANT GOT WHAT
    [ "$1" = "$2" ] || fail "$3: exit status $2, expected $1"
}

# Every path with its kind, mode, content checksum and extended attributes.
snapshot() {
    (cd "$1" && find . -print0 | sort -z | while IFS= read -r -d '' p; do
        printf '%s %s' "$p" "$(stat -c '%F %a %s' "$p")"
        [ -f "$p" ] && [ ! -L "$p" ] && printf ' %s' "$(sha256sum <"$p" | cut -c1-16)"
        [ -L "$p" ] || printf ' %s' "$(getfattr -h -d -m - -e hex "$p" 2>/dev/null | sort | tr '\n' ' ')"
        printf '\n'
    done)
}

make_tree() {
    rm -rf "$WORK/t"
    mkdir -p "$WORK/t/Sub"
    printf 'alpha data' >"$WORK/t/Alpha"
    cp "$CORPUS/peers/unar-hidden.ad" "$WORK/t/._Alpha"
    printf 'beta' >"$WORK/t/beta"
    setfattr -n user.com.apple.ResourceFork -v 0x0102030405 "$WORK/t/beta"
    : >"$WORK/t/Sub/empty"
    printf 'gamma' >"$WORK/t/Sub/gamma"
    cp "$CORPUS/peers/samba-fruit.ad" "$WORK/t/Sub/._gamma"
}

# --version, --help and bad usage.
out=$(bw --version); st=$?
expect_status 0 $st "--version"
[[ "$out" == brackwater\ * ]] || fail "--version printed '$out'"
bw --help | grep -q -- '--operation' || fail "--help lacks --operation"
bw --operation rotate x 2>/dev/null; expect_status 2 $? "unknown operation"
bw --operation flip 2>/dev/null; expect_status 2 $? "no paths"
bw --frobnicate 2>/dev/null; expect_status 2 $? "unknown option"

# Paths alone ask for the window, which cannot open here: one line that names
# the batch mode's options and status 2, never Qt's abort, and no byte changed.
make_tree
before=$(snapshot "$WORK/t")
(bw "$WORK/t/Alpha" >"$WORK/out" 2>"$WORK/err"); st=$?
expect_status 2 $st "a window without a display"
[ "$(wc -l <"$WORK/err")" -eq 1 ] && grep -q -- '--operation' "$WORK/err" && grep -q -- '--info' "$WORK/err" ||
    fail "no display: stderr was '$(cat "$WORK/err")'"
[ "$(snapshot "$WORK/t")" = "$before" ] || fail "a window without a display changed the tree"

# Dry runs change no byte, for every operation.
make_tree
before=$(snapshot "$WORK/t")
for op in flip delete-data delete-resource; do
    out=$(bw --operation $op --dry-run "$WORK/t"); st=$?
    expect_status 0 $st "dry run $op"
    echo "$out" | tail -n1 | grep -q '^dry run: [0-9]* would change, 0 would fail' ||
        fail "dry run $op summary: $out"
done
out=$(bw --operation delete-resource -n "$WORK/t")
[ "$(echo "$out" | head -n1)" = "would delete resource fork (data 10 bytes, resource 700 bytes): $WORK/t/Alpha" ] ||
    fail "dry run line: $(echo "$out" | head -n1)"
[ "$before" = "$(snapshot "$WORK/t")" ] || fail "a dry run changed the tree"

# Without a terminal and without --yes: refused, nothing changed.
for op in flip delete-data delete-resource; do
    printf 'y\n' | bw --operation $op "$WORK/t" >"$WORK/out" 2>"$WORK/err"
    expect_status 2 $? "refusal of $op without a terminal"
    grep -q -- '--yes' "$WORK/err" || fail "refusal of $op does not mention --yes"
    [ -s "$WORK/out" ] && fail "refusal of $op printed a report"
done
[ "$before" = "$(snapshot "$WORK/t")" ] || fail "the refused runs changed the tree"

# On a terminal: the stop alert's text once; "n" changes nothing, "y" goes ahead.
if command -v script >/dev/null; then
    printf 'n\n' | script -qec "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb '$BIN' --operation delete-resource '$WORK/t'" /dev/null >"$WORK/tty" 2>&1
    grep -q 'You are about to delete the resource forks of the selected files.' "$WORK/tty" ||
        fail "no question on the terminal: $(cat "$WORK/tty")"
    grep -q 'This operation can not be undone by this program and may render the files unusable.' "$WORK/tty" ||
        fail "no warning on the terminal"
    [ "$before" = "$(snapshot "$WORK/t")" ] || fail "answering n changed the tree"
    printf 'y\n' | script -qec "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb '$BIN' --operation delete-resource '$WORK/t'" /dev/null >"$WORK/tty" 2>&1
    grep -q '3 changed, 0 failed, 1 skipped' "$WORK/tty" || fail "answering y: $(cat "$WORK/tty")"
    grep -q ' of 4' "$WORK/tty" || fail "no progress on the terminal"
    make_tree
fi

# A real run: one line per changed file in walk order, the summary, status 0.
out=$(bw --operation delete-resource --yes "$WORK/t" 2>"$WORK/err"); st=$?
expect_status 0 $st "delete-resource"
expected="deleted resource fork: $WORK/t/Alpha
deleted resource fork: $WORK/t/beta
deleted resource fork: $WORK/t/Sub/gamma
3 changed, 0 failed, 1 skipped"
[ "$out" = "$expected" ] || fail "delete-resource report: $out"
[ -s "$WORK/err" ] && fail "delete-resource wrote to stderr: $(cat "$WORK/err")"
getfattr -n user.com.apple.ResourceFork "$WORK/t/beta" >/dev/null 2>&1 && fail "attribute fork left"
[ "$(cat "$WORK/t/Alpha")" = "alpha data" ] || fail "data fork touched"

# Failures: stderr with code and meaning, the run goes on, status 1.
make_tree
mkfifo "$WORK/t/fifo"
ln -s Alpha "$WORK/t/link"
out=$(bw --operation flip -y "$WORK/t" 2>"$WORK/err"); st=$?
expect_status 1 $st "flip with a FIFO and a link"
[ "$(echo "$out" | tail -n1)" = "3 changed, 2 failed, 1 skipped" ] || fail "flip summary: $out"
grep -q "^brackwater: $WORK/t/fifo: notAFileErr (-1302): " "$WORK/err" || fail "FIFO failure: $(cat "$WORK/err")"
grep -q "^brackwater: $WORK/t/link: notAFileErr (-1302): " "$WORK/err" || fail "link failure"
[ -L "$WORK/t/link" ] || fail "link replaced"
[ -s "$WORK/t/Alpha" ] && fail "Alpha not flipped"

# --info on sidecars written by Samba, unar and in macOS's shape, and a malformed one.
rm -rf "$WORK/i" && mkdir -p "$WORK/i"
for s in samba-fruit unar-hidden macos-4096; do
    printf 'data fork of the sample\n' >"$WORK/i/$s"
    cp "$CORPUS/peers/$s.ad" "$WORK/i/._$s"
done
setfattr -n user.org.netatalk.Metadata -v "0x$(od -An -v -tx1 "$CORPUS/peers/samba-fruit.meta" | tr -d ' \n')" "$WORK/i/samba-fruit"
printf 'x' >"$WORK/i/zz-malformed"
cp "$CORPUS/malformed/overlapping-entries.ad" "$WORK/i/._zz-malformed"
before=$(snapshot "$WORK/i")
json=$(bw --info --json "$WORK/i"); st=$?
expect_status 0 $st "--info --json"
[ "$(echo "$json" | wc -l)" = 4 ] || fail "--info --json lines: $json"
echo "$json" | python3 -c '
import json, sys
rows = [json.loads(l) for l in sys.stdin]
by = {r["path"].rsplit("/", 1)[1]: r for r in rows}
for name in ("samba-fruit", "unar-hidden"):
    r = by[name]
    assert (r["resource_fork"], r["resource_store"], r["type"], r["creator"], r["sidecar"]) == (700, "sidecar", "TEXT", "ttxt", "valid"), r
r = by["macos-4096"]
assert (r["resource_fork"], r["resource_store"], r["type"], r["sidecar"]) == (0, "none", "TEXT", "valid"), r
r = by["zz-malformed"]
assert r["sidecar"] == "malformed" and r["sidecar_problem"] == "overlapping entries" and r["data_fork"] == 1, r
' || fail "--info --json content"
bw --info "$WORK/i/zz-malformed" | grep -q 'malformed: overlapping entries' || fail "--info text"
[ "$before" = "$(snapshot "$WORK/i")" ] || fail "--info changed the tree"

[ $FAILS -eq 0 ] && echo "batch without a display: all checks passed"
exit $((FAILS > 0))
