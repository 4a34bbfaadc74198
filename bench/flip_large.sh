#!/usr/bin/env bash
# Flip of a 256 MiB file against cat of the same file to /dev/null, against cp
# (plain, and followed by a sync of the copy, since the flip makes its resource
# fork durable) and against the same flip done with bare system calls
# (bench/flip_floor.c), in one run: wall time and peak memory of each.
# Usage: bash bench/flip_large.sh [build-dir] [size-in-MiB]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
mib="${2:-256}"
if [ ! -x /usr/bin/time ]; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends time >/dev/null
fi
cmake --build "$build" --target bench_flip_large floor_flip_floor >/dev/null
flip="$build/bench/bench_flip_large"
floor="$build/bench/floor_flip_floor"

work="$(mktemp -d "${TMPDIR:-/var/tmp}/brackwater-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
head -c "$((mib * 1024 * 1024))" /dev/urandom >"$work/source"
sync "$work/source"
cat "$work/source" >/dev/null  # every row starts from a warm page cache

measure() {  # label, command...
    local label="$1"
    shift
    /usr/bin/time -v -o "$work/time.txt" "$@"
    local wall rss
    wall="$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")"
    rss="$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")"
    printf '%-24s %10s %12s\n' "$label" "$wall" "$((rss / 1024)) MiB"
}

printf '%-24s %10s %12s\n' "operation ($mib MiB)" "wall" "peak memory"
measure "cat > /dev/null" sh -c "cat '$work/source' >/dev/null"
measure "cp" cp "$work/source" "$work/copy1"
measure "cp + sync" sh -c "cp '$work/source' '$work/copy2' && sync '$work/copy2'"
mv "$work/copy1" "$work/copy3"
measure "flip, bare syscalls" "$floor" "$work" copy3
measure "flip" "$flip" "$work/copy2"
# The flip must have moved every byte.
[ ! -s "$work/copy2" ] || { echo "data fork still there" >&2; exit 1; }
[ -s "$work/._copy2" ] || { echo "no sidecar written" >&2; exit 1; }
