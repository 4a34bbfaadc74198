#!/bin/bash
# Kills the batch mode with SIGKILL at random moments while it flips a tree of
# a few thousand files in every fork shape (no fork, sidecars of each peer,
# forks in either attribute, netatalk 2's .AppleDouble headers, "ATTR" blocks,
# Finder info only). After each kill every file's bytes are whole in its data
# fork or whole in its resource fork, in the store it was in, and every sidecar
# and netatalk header parses, each folder's .AppleDouble/.Parent untouched.
# Every five kills, and at the end, a rerun must finish the work and remove
# the temporary sidecars killed runs left. A fresh tree follows each rerun.
# (That runs which only read leave those temporaries: CrashLeftovers_test.)
#   crash_kill.sh <brackwater> <build-dir>
# BRACKWATER_CRASH_KILLS (default 50) and BRACKWATER_CRASH_FILES (default
# 2000) set the number of kills and the size of the tree.
source "$(dirname "$0")/lib.bash"
BIN="$1" TOOL="$2/tests/forktree"
KILLS="${BRACKWATER_CRASH_KILLS:-50}"
FILES="${BRACKWATER_CRASH_FILES:-2000}"

# A kill is a process death, not a power cut: the file system does not matter
# for what it leaves, and memory makes the many runs quick.
WORK=$(mktemp -d /dev/shm/brackwater-crash.XXXXXX 2>/dev/null) && setfattr -n user.probe -v 1 "$WORK" 2>/dev/null ||
    { rm -rf "$WORK"; WORK=$(mktemp -d "${TMPDIR:-/tmp}/brackwater-crash.XXXXXX"); }
trap 'rm -rf "$WORK"' EXIT

fresh() {
    rm -rf "$WORK/tree"
    "$TOOL" make "$WORK/tree" "$FILES" "$WORK/manifest"
    since_fresh=0
}
# Checks the invariant; $left: the temporary sidecars found.
check() {
    "$TOOL" check "$WORK/tree" "$WORK/manifest" "$@" >"$WORK/check" 2>&1 ||
        fail "after kill $kills: $(head -20 "$WORK/check")"
    left=$(sed -n 's/.*temporaries \([0-9]*\)$/\1/p' "$WORK/check")
}
finish() {
    "$BIN" --operation flip --yes "$WORK/tree" >"$WORK/out" 2>&1 ||
        fail "the rerun after kill $kills did not finish: $(tail -5 "$WORK/out")"
    check --done
    reruns=$((reruns + 1))
}

# How long an uninterrupted flip of a fresh tree takes: the kills fall in it.
kills=0 reruns=0 temporaries=0 missed=0
fresh
start=$(date +%s%N)
finish
full_ms=$((($(date +%s%N) - start) / 1000000))
window=$((full_ms / 3 + 20))
echo "tree of $FILES files flipped in $full_ms ms; kills within $window ms of each start"

fresh
while [ "$kills" -lt "$KILLS" ]; do
    delay=$(((RANDOM * 32768 + RANDOM) % window))
    "$BIN" --operation flip --yes "$WORK/tree" >"$WORK/out" 2>&1 &
    pid=$!
    sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    if ! grep -q ' changed, ' "$WORK/out"; then
        # Killed before its summary: in the middle of the work.
        kills=$((kills + 1))
        since_fresh=$((since_fresh + 1))
        check
        temporaries=$((temporaries + left))
    else
        # The run ended before the kill: the tree is done.
        grep -q ' 0 failed' "$WORK/out" || fail "a run failed: $(tail -5 "$WORK/out")"
        missed=$((missed + 1))
        since_fresh=5
    fi
    if [ "$since_fresh" -ge 5 ] || [ "$kills" -ge "$KILLS" ]; then
        finish
        fresh
    fi
done
echo "$kills kills, invariant held after each; $reruns reruns finished the work and removed" \
    "the $temporaries temporary sidecars left by killed runs; $missed runs ended before their kill"
