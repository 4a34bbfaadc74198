#!/bin/bash
# Times the batch mode against plain C floors doing the same system calls, on
# fresh trees in a temporary folder, and prints the ratios:
#   delete-resource and delete-data over 100,000 files with sidecars,
#   flip over 10,000 small files.
# Usage: bench/batch.sh [BUILD_DIR] [FILES] [FLIP_FILES]
# (BENCH_TMP chooses where the trees go, default the system's temp folder;
# REPEAT how many turns each program gets, default 3.)
set -euo pipefail
BUILD="$(cd "${1:-build}" && pwd)"
FILES="${2:-100000}"
FLIP_FILES="${3:-10000}"
BIN="$BUILD/brackwater"
MAKE="$BUILD/bench/bench_make_batch_tree"
for p in "$BIN" "$MAKE" "$BUILD/bench/floor_delete_data" "$BUILD/bench/floor_delete_resource" \
    "$BUILD/bench/floor_flip"; do
    [ -x "$p" ] || { echo "missing $p: build the targets brackwater and bench first" >&2; exit 2; }
done
WORK="$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/brackwater-bench.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

now() { date +%s.%N; }

# Seconds one program takes over a fresh tree: run_once KIND COUNT OUT COMMAND...
run_once() {
    local kind=$1 count=$2 out=$3
    shift 3
    rm -rf "$WORK/tree"
    "$MAKE" "$kind" "$WORK/tree" "$count"
    sync
    local t0 t1
    t0=$(now)
    "$@" "$WORK/tree" >"$out" 2>"$out.err"
    t1=$(now)
    awk "BEGIN{print $t1 - $t0}"
}

# run KIND COUNT OPERATION FLOOR: floor and batch in turns, REPEAT times each
# (default 3), on the same machine in the same run; the best time of each
# counts, as the one least disturbed by other work on the machine.
run() {
    local kind=$1 count=$2 op=$3 floor=$4 best_floor= best_batch= t
    for _ in $(seq "${REPEAT:-3}"); do
        t=$(run_once "$kind" "$count" "$WORK/floor.out" "$BUILD/bench/floor_$floor")
        best_floor=$(awk -v a="$t" -v b="${best_floor:-$t}" 'BEGIN{print (a < b) ? a : b}')
        t=$(run_once "$kind" "$count" "$WORK/batch.out" "$BIN" --operation "$op" --yes)
        best_batch=$(awk -v a="$t" -v b="${best_batch:-$t}" 'BEGIN{print (a < b) ? a : b}')
    done
    awk -v op="$op" -v n="$count" -v f="$best_floor" -v b="$best_batch" \
        'BEGIN{printf "%-16s %7d files  floor %7.2f s  batch %7.2f s  ratio %5.2f\n", op, n, f, b, b / f}'
    tail -n1 "$WORK/floor.out" | sed 's/^/    floor: /'
    tail -n1 "$WORK/batch.out" | sed 's/^/    batch: /'
    rm -rf "$WORK/tree"
}

run sidecars "$FILES" delete-resource delete_resource
run sidecars "$FILES" delete-data delete_data
run small "$FLIP_FILES" flip flip
