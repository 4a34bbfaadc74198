#!/usr/bin/env bash
# Flip of a 1 GiB file against cat of the same file to /dev/null, against cp
# (plain, and followed by a sync of the copy, since the flip makes its resource
# fork durable) and against the same flip done with bare system calls
# (bench/flip_floor.c), in one run: wall time and peak memory of each, and the
# flip's time over cp + sync's. Then a sparse data fork of 3 GiB with bytes at
# its start and end is flipped whole, and those bytes are checked in the sidecar.
# Usage: bash bench/flip_large.sh [build-dir] [size-in-MiB]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
mib="${2:-1024}"
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
    # Nothing of an earlier row is left to write back: on ext4 a sync commits
    # the whole journal, which would make a row pay for the one before.
    sync
    /usr/bin/time -v -o "$work/time.txt" "$@"
    local wall rss
    wall="$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")"
    rss="$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")"
    printf '%-24s %10s %12s\n' "$label" "$wall" "$((rss / 1024)) MiB"
    # Wall time in milliseconds, for the ratio below.
    LAST_MS=$(echo "$wall" | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%d", s * 1000 }')
}

printf '%-24s %10s %12s\n' "operation ($mib MiB)" "wall" "peak memory"
measure "cat > /dev/null" sh -c "cat '$work/source' >/dev/null"
measure "cp" cp "$work/source" "$work/copy1"
measure "cp + sync" sh -c "cp '$work/source' '$work/copy2' && sync '$work/copy2'"
cp_sync_ms=$LAST_MS
mv "$work/copy1" "$work/copy3"
measure "flip, bare syscalls" "$floor" "$work" copy3
measure "flip" "$flip" "$work/copy2"
flip_ms=$LAST_MS
# The flip must have moved every byte.
[ ! -s "$work/copy2" ] || { echo "data fork still there" >&2; exit 1; }
tail -c +83 "$work/._copy2" | cmp -s - "$work/source" || { echo "sidecar differs" >&2; exit 1; }
awk -v f="$flip_ms" -v c="$cp_sync_ms" 'BEGIN { printf "flip / (cp + sync): %.2f\n", f / (c > 0 ? c : 1) }'

# A sparse data fork of 3 GiB, bytes at its start and its end, flipped whole.
rm -f "$work"/copy* "$work"/._copy* "$work"/.floor-tmp
big="$work/sparse"
truncate -s 3G "$big"
printf 'first' | dd of="$big" conv=notrunc status=none
printf 'the end' | dd of="$big" bs=1 seek=$(((3 << 30) - 7)) conv=notrunc status=none
measure "flip, 3 GiB sparse" "$flip" "$big"
[ "$(head -c 87 "$work/._sparse" | tail -c 5)" = first ] || { echo "first bytes lost" >&2; exit 1; }
[ "$(tail -c 7 "$work/._sparse")" = "the end" ] || { echo "last bytes lost" >&2; exit 1; }
[ "$(stat -c %s "$work/._sparse")" -eq $(((3 << 30) + 82)) ] || { echo "wrong size" >&2; exit 1; }
echo "3 GiB flipped whole: its first and last bytes are in the sidecar, at their places"
