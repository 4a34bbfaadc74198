#!/bin/bash
# The batch mode of the real binary on a machine without any display: no X,
# no Wayland, no session bus, and a Qt platform that would abort if a window
# were ever attempted. Exit codes, report lines, refusals that leave every
# byte and attribute as it was (without a display, without a terminal), --info
# on a malformed sidecar. (The question on a terminal, every operation's dry
# run and report, a folder an ordinary user may not list, --info on each store
# and peer: BatchMode_test; peers' sidecars read: ForkStore_test.)
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

# Without a terminal and without --yes: refused, nothing changed.
bw --operation flip "$WORK/t" <<<y
expect 2 "a run without --yes nor a terminal"
grep -q -- '--yes' "$WORK/err" && [ ! -s "$WORK/out" ] || fail "the refusal without --yes: $(cat "$WORK/err")"

# Failures: stderr with code and meaning, the run goes on, status 1.
bw --operation flip -y "$WORK/t"
[ $st = 1 ] || fail "flip with a FIFO and a link: exit status $st"
[ "$(tail -n1 "$WORK/out")" = "3 changed, 2 failed, 0 skipped" ] || fail "flip summary: $(cat "$WORK/out")"
grep -q "^brackwater: $WORK/t/fifo: notAFileErr (-1302): " "$WORK/err" || fail "FIFO failure: $(cat "$WORK/err")"
[ -L "$WORK/t/link" ] && [ ! -s "$WORK/t/Alpha" ] || fail "the link replaced, or Alpha not flipped"

# --info on a malformed sidecar: its reason in JSON and in text, status 0, and
# nothing changed.
mkdir -p "$WORK/i"
printf 'x' >"$WORK/i/bad"
cp "$CORPUS/malformed/overlapping-entries.ad" "$WORK/i/._bad"
before=$(e2e_snapshot "$WORK/i")
bw --info --json "$WORK/i/bad"
[ $st = 0 ] && grep -q '"sidecar":"malformed","sidecar_problem":"overlapping entries"' "$WORK/out" ||
    fail "--info --json: status $st: $(cat "$WORK/out")"
bw --info "$WORK/i/bad"
grep -q 'malformed: overlapping entries' "$WORK/out" || fail "--info text: $(cat "$WORK/out")"
[ "$(e2e_snapshot "$WORK/i")" = "$before" ] || fail "--info changed the tree"
echo "batch without a display: all checks passed"
