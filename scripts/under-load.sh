#!/usr/bin/env bash
# Runs the whole suite (the soak aside) several times in a row beside two
# busy loops, as on a shared two-core CI machine, and says which runs failed.
# Usage: scripts/under-load.sh [BUILD_DIR] [RUNS]
set -u
build=${1:-build}
runs=${2:-3}
jobs=$(nproc)
busy=()
for _ in 1 2; do
    (while :; do :; done) &
    busy+=($!)
done
trap 'kill "${busy[@]}" 2>/dev/null' EXIT
failed=0
for run in $(seq 1 "$runs"); do
    echo "== run $run of $runs beside two busy loops"
    if ! (cd "$build" && ctest --output-on-failure -j "$jobs" -LE soak); then
        echo "== run $run failed"
        failed=$((failed + 1))
    fi
done
echo "== $((runs - failed)) of $runs runs passed"
[ "$failed" -eq 0 ]
