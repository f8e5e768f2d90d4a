#!/usr/bin/env bash
# The run command's script: it starts both simulated analyzers and hands the
# program only the arguments meant for it, with the simulators' ports.
#   test_run_script.sh SCRIPT PXR_SIM
set -euo pipefail
script=$1
sim=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/build/src/app" "$tmp/build/tools/pxr-sim" "$tmp/work"
ln -s "$sim" "$tmp/build/tools/pxr-sim/pxr-sim"
# A stand-in program that reports what it was given.
cat > "$tmp/build/src/app/rivuletrix" <<'STUB'
#!/usr/bin/env bash
{
    echo "argc=$#"
    for a in "$@"; do echo "arg=$a"; done
    echo "ports=$RIVULETRIX_PORTS"
    IFS=: read -ra links <<<"$RIVULETRIX_PORTS"
    for l in "${links[@]}"; do [ -e "$l" ] && echo "live=$l"; done
} > "$PWD/seen.txt"
STUB
chmod +x "$tmp/build/src/app/rivuletrix"

fail() { echo "FAIL: $*"; cat "$tmp/work/seen.txt" 2>/dev/null; exit 1; }

# The plain run command: no argument reaches the program.
DISPLAY=:test bash "$script" "$tmp/build" "$tmp/work"
seen=$tmp/work/seen.txt
[ -f "$seen" ] || fail "the program was not started in the work folder"
grep -qx 'argc=0' "$seen" || fail "the program was given arguments"
grep -qx "ports=$tmp/work/pxr8:$tmp/work/pxr2k" "$seen" || fail "wrong ports"
[ "$(grep -c '^live=' "$seen")" -eq 2 ] || fail "the simulators were not running"

# A record file named after the folders is passed on alone.
rm -f "$seen"
DISPLAY=:test bash "$script" "$tmp/build" "$tmp/work" "$tmp/work/rec.p8d"
grep -qx 'argc=1' "$seen" || fail "expected one argument"
grep -qx "arg=$tmp/work/rec.p8d" "$seen" || fail "the record path was not passed on"
# The simulators stop with the program.
sleep 0.3
[ ! -e "$tmp/work/pxr8" ] || ! pgrep -f -- "--link $tmp/work/pxr8" >/dev/null || fail "a simulator kept running"
echo "PASS"
