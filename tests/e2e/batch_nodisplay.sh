#!/bin/bash
# The batch mode of the real binary on a machine without any display: no X,
# no Wayland, no session bus, and a Qt platform that would abort if a window
# were ever attempted. Exit codes, report lines, a dry run that leaves every
# byte and attribute as it was, refusal without a terminal, --info on peer
# sidecars. (The question on a terminal, every operation's dry run and report,
# a folder an ordinary user may not list: BatchMode_test.)
set -uo pipefail
BIN="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
CORPUS="$(cd "$(dirname "$0")/../corpus" && pwd)"
source "$(dirname "$0")/lib.bash"
e2e_setup
WORK=$E2E_DIR
chmod 755 "$WORK"

# No display of any kind; xcb is forced so that a window attempt aborts. The
# status goes to $st, stdout and stderr to out and err.
bw() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR \
        QT_QPA_PLATFORM=xcb "$BIN" "$@" >"$WORK/out" 2>"$WORK/err"
    st=$?
}
expect() { # expect STATUS WHAT: the last run's status, and the tree as it was
    [ "$st" = "$1" ] || fail "$2: exit status $st, expected $1: $(cat "$WORK/err")"
    [ "$(e2e_snapshot "$WORK/t")" = "$before" ] || fail "$2 changed the tree"
}

mkdir -p "$WORK/t/Sub"
printf 'alpha data' >"$WORK/t/Alpha"
cp "$CORPUS/peers/unar-hidden.ad" "$WORK/t/._Alpha"
printf 'beta' >"$WORK/t/beta"
setfattr -n user.com.apple.ResourceFork -v 0x0102030405 "$WORK/t/beta"
printf 'gamma' >"$WORK/t/Sub/gamma"
cp "$CORPUS/peers/samba-fruit.ad" "$WORK/t/Sub/._gamma"
mkfifo "$WORK/t/fifo"
ln -s Alpha "$WORK/t/link"
before=$(e2e_snapshot "$WORK/t")

bw --version
[ $st = 0 ] && [[ "$(cat "$WORK/out")" == brackwater\ * ]] || fail "--version printed '$(cat "$WORK/out")'"
bw --help
grep -q -- '--operation' "$WORK/out" || fail "--help lacks --operation"
bw --frobnicate "$WORK/t"
expect 2 "an unknown option"

# Paths alone ask for the window, which cannot open here: one line that names
# the batch mode's options and status 2, never Qt's abort, and no byte changed.
bw "$WORK/t/Alpha"
expect 2 "a window without a display"
[ "$(wc -l <"$WORK/err")" -eq 1 ] && grep -q -- '--operation' "$WORK/err" && grep -q -- '--info' "$WORK/err" ||
    fail "no display: stderr was '$(cat "$WORK/err")'"

bw --operation delete-resource -n "$WORK/t"
expect 1 "a dry run"
[ "$(head -n1 "$WORK/out")" = "would delete resource fork (data 10 bytes, resource 700 bytes): $WORK/t/Alpha" ] ||
    fail "dry run line: $(head -n1 "$WORK/out")"

# Without a terminal and without --yes: refused, nothing changed.
bw --operation flip "$WORK/t" <<<y
expect 2 "a run without --yes nor a terminal"
grep -q -- '--yes' "$WORK/err" && [ ! -s "$WORK/out" ] || fail "the refusal without --yes: $(cat "$WORK/err")"

# Failures: stderr with code and meaning, the run goes on, status 1.
bw --operation flip -y "$WORK/t"
[ $st = 1 ] || fail "flip with a FIFO and a link: exit status $st"
[ "$(tail -n1 "$WORK/out")" = "3 changed, 2 failed, 0 skipped" ] || fail "flip summary: $(cat "$WORK/out")"
grep -q "^brackwater: $WORK/t/fifo: notAFileErr (-1302): " "$WORK/err" || fail "FIFO failure: $(cat "$WORK/err")"
grep -q "^brackwater: $WORK/t/link: notAFileErr (-1302): " "$WORK/err" || fail "link failure"
[ -L "$WORK/t/link" ] && [ ! -s "$WORK/t/Alpha" ] || fail "the link replaced, or Alpha not flipped"

# --info on sidecars written by Samba, unar and in macOS's shape, and a malformed one.
mkdir -p "$WORK/i"
for s in samba-fruit unar-hidden macos-4096; do
    printf 'data fork of the sample\n' >"$WORK/i/$s"
    cp "$CORPUS/peers/$s.ad" "$WORK/i/._$s"
done
setfattr -n user.org.netatalk.Metadata -v "0x$(od -An -v -tx1 "$CORPUS/peers/samba-fruit.meta" | tr -d ' \n')" "$WORK/i/samba-fruit"
printf 'x' >"$WORK/i/zz-malformed"
cp "$CORPUS/malformed/overlapping-entries.ad" "$WORK/i/._zz-malformed"
before=$(e2e_snapshot "$WORK/i")
bw --info --json "$WORK/i"
[ $st = 0 ] || fail "--info --json: exit status $st"
python3 - "$WORK/out" <<'PY' || fail "--info --json content: $(cat "$WORK/out")"
import json, sys
by = {r["path"].rsplit("/", 1)[1]: r for r in map(json.loads, open(sys.argv[1]))}
fields = lambda r: (r["resource_fork"], r["resource_store"], r["type"] + r["creator"], r["sidecar"], r["data_fork"])
assert fields(by["samba-fruit"]) == fields(by["unar-hidden"]) == (700, "sidecar", "TEXTttxt", "valid", 24), by
assert fields(by["macos-4096"]) == (0, "none", "TEXTttxt", "valid", 24), by
assert by["zz-malformed"]["sidecar_problem"] == "overlapping entries" and len(by) == 4, by
PY
bw --info "$WORK/i/zz-malformed"
grep -q 'malformed: overlapping entries' "$WORK/out" || fail "--info text: $(cat "$WORK/out")"
[ "$(e2e_snapshot "$WORK/i")" = "$before" ] || fail "--info changed the tree"
echo "batch without a display: all checks passed"
