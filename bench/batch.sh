#!/bin/bash
# Times the batch mode against plain C floors doing the same system calls, on
# fresh trees in a temporary folder, and prints the ratios:
#   delete-resource and delete-data over 100,000 files with sidecars,
#   flip over 10,000 small files.
# Usage: bench/batch.sh [BUILD_DIR] [FILES] [FLIP_FILES]
# (BENCH_TMP chooses where the trees go; default: the system's temp folder.)
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

# run NAME KIND COUNT OPERATION FLOOR: one tree for each program, the floor first.
run() {
    local name=$1 kind=$2 count=$3 op=$4 floor=$5
    "$MAKE" "$kind" "$WORK/$name-floor" "$count"
    "$MAKE" "$kind" "$WORK/$name-batch" "$count"
    sync
    local t0 t1 t2 t3
    t0=$(now)
    "$BUILD/bench/floor_$floor" "$WORK/$name-floor" >"$WORK/$name-floor.out"
    t1=$(now)
    t2=$(now)
    "$BIN" --operation "$op" --yes "$WORK/$name-batch" >"$WORK/$name-batch.out" 2>"$WORK/$name.err"
    t3=$(now)
    local floor batch
    floor=$(echo "$t1 - $t0" | bc -l)
    batch=$(echo "$t3 - $t2" | bc -l)
    printf '%-16s %7d files  floor %7.2f s  batch %7.2f s  ratio %5.2f\n' "$op" "$count" \
        "$floor" "$batch" "$(echo "$batch / $floor" | bc -l)"
    tail -n1 "$WORK/$name-floor.out" | sed 's/^/    floor: /'
    tail -n1 "$WORK/$name-batch.out" | sed 's/^/    batch: /'
    rm -rf "$WORK/$name-floor" "$WORK/$name-batch"
}

run delete-resource sidecars "$FILES" delete-resource delete_resource
run delete-data sidecars "$FILES" delete-data delete_data
run flip small "$FLIP_FILES" flip flip
