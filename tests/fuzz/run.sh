#!/bin/bash
# Builds the libFuzzer target with clang and runs it for SECONDS (default 60),
# seeded with the sidecars, netatalk headers and metadata of tests/corpus. New
# inputs go to a scratch corpus under the build folder, never into the
# repository.
#   tests/fuzz/run.sh [seconds] [build-dir]
set -euo pipefail
SRC="$(cd "$(dirname "$0")/../.." && pwd)"
SECONDS_EACH="${1:-60}"
BUILD="${2:-$SRC/build-fuzz}"
CC=clang CXX=clang++ cmake -S "$SRC" -B "$BUILD" -G Ninja -DBRACKWATER_FUZZ=ON \
    -DBRACKWATER_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 --target sidecar_fuzz

run() {
    local name="$1"
    shift
    local corpus="$BUILD/fuzz-corpus/$name"
    mkdir -p "$corpus"
    # Named after their folder too: two folders may hold files of one name.
    local seed
    for seed in "$@"; do
        cp "$seed" "$corpus/$(basename "$(dirname "$seed")")-$(basename "$seed")"
    done
    "$BUILD/$name" -max_total_time="$SECONDS_EACH" -max_len=70000 "$corpus"
}
run sidecar_fuzz "$SRC"/tests/corpus/malformed/* "$SRC"/tests/corpus/netatalk2-malformed/* \
    "$SRC"/tests/corpus/peers/*.ad "$SRC"/tests/corpus/peers/*.meta
