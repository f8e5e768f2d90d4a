#!/usr/bin/env bash
# Starts two simulated analyzers (a PXR-8 with channels 1, 2 and 4, holding four
# records, three templates and user notes to import, and a PXR2K)
# and the program in the prepared working folder. The simulators stop with it.
set -euo pipefail
build=$1
work=$2
# What follows the two folders is for the program (a record file to open).
shift 2
links=()
pids=()
cleanup() { [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true; }
trap cleanup EXIT
if "$build/tools/pxr-sim/pxr-sim" --help >/dev/null 2>&1; then
    "$build/tools/pxr-sim/pxr-sim" --model PXR-8 --name "PXR-8 Bench" --serial 80001234 \
        --channels 1,2,4 --preset-records 4 --preset-templates 3 --link "$work/pxr8" >/dev/null &
    pids+=($!)
    "$build/tools/pxr-sim/pxr-sim" --model PXR2K --name "PXR2K Bench" --serial 20005678 \
        --channels 1 --link "$work/pxr2k" >/dev/null &
    pids+=($!)
    links=("$work/pxr8" "$work/pxr2k")
    for l in "${links[@]}"; do
        for _ in $(seq 50); do [ -e "$l" ] && break; sleep 0.1; done
    done
fi
export RIVULETRIX_PORTS=$(IFS=:; echo "${links[*]:-}")
cd "$work"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    echo "No display: starting the program under Xvfb."
    xvfb-run -a "$build/src/app/rivuletrix" "$@"
else
    "$build/src/app/rivuletrix" "$@"
fi
