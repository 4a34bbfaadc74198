#!/bin/bash
# Times two builds of the batch mode against the same C floors, in turns on
# fresh trees, and prints for each operation the best wall time and the best
# processor time (user and system) of each, with its ratio to the floor's:
#   delete-resource and delete-data over FILES files with sidecars,
#   flip over FLIP_FILES small files.
# Usage: bench/batch_compare.sh NEW_BUILD OLD_BUILD [FILES] [FLIP_FILES]
# (the floors and the tree maker come from NEW_BUILD; BENCH_TMP chooses where
# the trees go, default the system's temp folder; REPEAT the turns, default 3.)
set -euo pipefail
NEW="$(cd "$1" && pwd)"
OLD="$(cd "$2" && pwd)"
FILES="${3:-50000}"
FLIP_FILES="${4:-10000}"
for p in "$NEW/brackwater" "$OLD/brackwater" "$NEW/bench/bench_make_batch_tree" \
    "$NEW/bench/floor_delete_data" "$NEW/bench/floor_delete_resource" "$NEW/bench/floor_flip"; do
    [ -x "$p" ] || { echo "missing $p: build the targets brackwater and bench first" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (the time package)" >&2; exit 2; }
WORK="$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/brackwater-compare.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

# "processor wall" seconds of one program over a fresh tree: once KIND COUNT COMMAND...
once() {
    local kind=$1 count=$2
    shift 2
    rm -rf "$WORK/tree"
    "$NEW/bench/bench_make_batch_tree" "$kind" "$WORK/tree" "$count"
    sync
    /usr/bin/time -f "%U %S %e" -o "$WORK/time" "$@" "$WORK/tree" >/dev/null 2>&1
    awk '{printf "%.3f %.3f\n", $1 + $2, $3}' "$WORK/time"
}

least() { awk -v a="$1" -v b="$2" 'BEGIN{print (b == "" || a < b) ? a : b}'; }

run() {
    local kind=$1 count=$2 op=$3 floor=$4 cpu wall
    local cf= co= cn= wf= wo= wn=
    for _ in $(seq "${REPEAT:-3}"); do
        read -r cpu wall < <(once "$kind" "$count" "$NEW/bench/floor_$floor")
        cf=$(least "$cpu" "$cf") wf=$(least "$wall" "$wf")
        read -r cpu wall < <(once "$kind" "$count" "$OLD/brackwater" --operation "$op" --yes)
        co=$(least "$cpu" "$co") wo=$(least "$wall" "$wo")
        read -r cpu wall < <(once "$kind" "$count" "$NEW/brackwater" --operation "$op" --yes)
        cn=$(least "$cpu" "$cn") wn=$(least "$wall" "$wn")
    done
    awk -v op="$op" -v n="$count" -v cf="$cf" -v co="$co" -v cn="$cn" -v wf="$wf" -v wo="$wo" \
        -v wn="$wn" 'BEGIN{printf "%-16s %7d files  wall: floor %.2f s, old %.2f (%.2f), new %.2f (%.2f)  processor: floor %.2f s, old %.2f (%.2f), new %.2f (%.2f)\n", op, n, wf, wo, wo / wf, wn, wn / wf, cf, co, co / cf, cn, cn / cf}'
}

run sidecars "$FILES" delete-resource delete_resource
run sidecars "$FILES" delete-data delete_data
run small "$FLIP_FILES" flip flip
