#!/usr/bin/env bash
# A run with the window against the same fork operation without it, over the
# same number of small files, under Xvfb as on a desktop.
# Usage: bash bench/run_window.sh [build-dir] [files] [operation]
# (operation 2, delete the data fork, is the cheapest per file, so the window's
# share of the run is at its largest.)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
files=${2:-20000}
operation=${3:-2}
cmake --build "$build" -j2 --target bench_run_window >/dev/null
runtime=$(mktemp -d /tmp/brackwater-bench-runtime.XXXXXX)
trap 'rm -rf "$runtime"' EXIT
chmod 700 "$runtime"
XDG_RUNTIME_DIR=$runtime xvfb-run -a -s "-screen 0 1280x800x24" \
    "$build/bench/bench_run_window" "$files" "$operation"
