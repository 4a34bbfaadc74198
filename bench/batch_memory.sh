#!/usr/bin/env bash
# Peak memory of the batch mode over a big tree (folders of 1,000 small files,
# default 1,000,000 files), against the same run over one file: what the walk
# costs per file once the process is loaded. The run is delete-resource over
# files without a resource fork, so it only walks and looks.
# Usage: bash bench/batch_memory.sh [build-dir] [files]   (trees in $BENCH_TMP)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
files="${2:-1000000}"
if [ ! -x /usr/bin/time ]; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends time >/dev/null
fi
cmake --build "$build" --target brackwater bench_make_batch_tree >/dev/null
work="$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/var/tmp}}/brackwater-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$build/bench/bench_make_batch_tree" small "$work/tree" "$files"
mkdir -p "$work/one" && : >"$work/one/file"

peak() {  # tree -> peak resident memory in KiB, and the wall time
    /usr/bin/time -v -o "$work/time.txt" "$build/brackwater" --operation delete-resource --yes \
        "$1" >"$work/out" 2>&1
    sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt"
}
base=$(peak "$work/one")
big=$(peak "$work/tree")
tail -n 1 "$work/out"
printf 'files %d: peak %d MiB; one file: %d MiB; %d bytes per file walked\n' \
    "$files" "$((big / 1024))" "$((base / 1024))" "$(((big - base) * 1024 / files))"
