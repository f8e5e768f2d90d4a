#!/usr/bin/env bash
# The Windows CLI's serial path under Wine: the Linux simulator on a
# pseudo-terminal, mapped into the Wine prefix as COM7. probe, info, a Flow
# test run to its saved record, records --get and import records through it;
# the record the Windows CLI saves equals, value for value, the one the Linux
# CLI saves from the same scenario. Prints both run times.
#   serial_under_wine.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
lin=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
sim=$lin/tools/pxr-sim/pxr-sim
cli=$lin/src/cli/rivuletrix-cli
wcli=$win/src/cli/rivuletrix-cli.exe
wine_run=$top/scripts/wine-run.sh
export WINEPREFIX=${WINEPREFIX:-$win/wineprefix}
work=$(mktemp -d /tmp/rx-wine-serial.XXXXXX)
sims=()
cleanup() {
    for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -f "$WINEPREFIX/dosdevices/com7"
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# One analyzer: a Flow profile without noise whose test the analyzer itself
# ends after 60 samples, so that both runs record the same values.
start_sim() { # link name
    "$sim" --link "$work/$1" --serial 81110001 --sample-period 100 --accel 20 --prime-delay 300 \
        --profile 2:noise=0,pnoise=0,samples=60 --preset-records 2 >"$work/$1.out" 2>&1 &
    sims+=($!)
    for _ in $(seq 100); do [ -s "$work/$1.out" ] && return 0; sleep 0.1; done
    fail "the simulator did not start"
}
seconds() { date +%s.%N; }

"$wine_run" "$wcli" --help >/dev/null 2>&1 || true # makes the prefix
start_sim pty-win
ln -sfn "$work/pty-win" "$WINEPREFIX/dosdevices/com7"

probe=$("$wine_run" "$wcli" probe COM7)
grep -q '"81110001"' <<<"$probe" || fail "probe found no analyzer on COM7: $probe"
echo "probe COM7: $probe"
info=$("$wine_run" "$wcli" info COM7)
grep -q '81110001' <<<"$info" || fail "info: $info"
echo "info COM7: ok"

t0=$(seconds)
"$wine_run" "$wcli" run COM7 --channel 2 --type flow --rate 300 --control WINE1 \
    --data-folder "$work/win-data" >"$work/win-run.out" || fail "run under Wine: $(cat "$work/win-run.out")"
t1=$(seconds)
win_record=$(ls "$work"/win-data/RXr_F*.p8d 2>/dev/null | head -1)
[ -n "$win_record" ] || fail "the Windows CLI saved no record: $(cat "$work/win-run.out")"

count=$("$wine_run" "$wcli" records COM7 | tr -d '\r')
[ "$count" -ge 2 ] 2>/dev/null || fail "records: $count, not the 2 stored"
"$wine_run" "$wcli" records COM7 --get 1 --out "$work/got.p8d" >/dev/null || fail "records --get"
[ -s "$work/got.p8d" ] || fail "records --get wrote nothing"
"$wine_run" "$wcli" import records COM7 --items all --data-folder "$work/imported" >/dev/null ||
    fail "import records"
imported=$(ls "$work"/imported/RXr_*.p8d 2>/dev/null | wc -l)
[ "$imported" -eq "$count" ] || fail "import records saved $imported records, not $count"
echo "records: $count; records --get 1 and import records of all: ok"

start_sim pty-linux
t2=$(seconds)
"$cli" run "$work/pty-linux" --channel 2 --type flow --rate 300 --control WINE1 \
    --data-folder "$work/linux-data" >"$work/linux-run.out" 2>/dev/null || fail "run on Linux"
t3=$(seconds)
linux_record=$(ls "$work"/linux-data/RXr_F*.p8d | head -1)

# Value for value: every sample, and every field but the start date and time.
diff <("$cli" record samples "$win_record") <("$cli" record samples "$linux_record") ||
    fail "the samples differ"
diff <("$cli" record show "$win_record" | grep -v '"Start') \
    <("$cli" record show "$linux_record" | grep -v '"Start') || fail "the record fields differ"
samples=$("$cli" record samples "$win_record" | tail -n +2 | wc -l)
echo "run: the same record ($samples samples) from both builds"
awk -v t0="$t0" -v t1="$t1" -v t2="$t2" -v t3="$t3" \
    'BEGIN { printf "run time: Windows CLI under Wine %.1f s, Linux CLI %.1f s\n", t1 - t0, t3 - t2 }'
echo "PASS"
