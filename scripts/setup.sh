#!/usr/bin/env bash
# Set-up for a Debian 12 machine. Idempotent.
#   scripts/setup.sh run   install what is missing, build, prepare work/, start
#                          simulated analyzers and the program
#   scripts/setup.sh test  install what is missing, build, run every test
#                          (plain, ThreadSanitizer and fuzzing builds)
set -euo pipefail
mode=${1:-}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

packages=(build-essential cmake ninja-build ccache clang libclang-rt-14-dev poppler-utils
          qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite libqt6sql6-psql qt6-qpa-plugins
          libbenchmark-dev fonts-liberation2 xvfb xauth desktop-file-utils
          postgresql)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

jobs=$(nproc)

build() { # dir, cmake options...
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

prepare_work() {
    local work=$top/work
    mkdir -p "$work/settings" "$work/data" "$work/custom/Temp"
    # The installation's location file and a settings file with defaults; the
    # program itself never creates either.
    if [ ! -f "$work/RivuletrixIniFilePath.ini" ]; then
        printf '[INIFilePath]\r\nINIFilePathWin7=%s\r\nINIFilePathWinXP=%s\r\n' \
            "$work/settings" "$work/settings" > "$work/RivuletrixIniFilePath.ini"
    fi
    if [ ! -f "$work/settings/RivuletrixApp.ini" ]; then
        printf '[Default Parameters]\r\nPathType=2\r\nDefaultPath=%s\r\nCustomPath=%s\r\nNetworkPath=\r\nNetworkPathDrive=\r\nBuildIndex=0\r\nReportHeader1=Biomedical Engineering\r\nReportHeader2=\r\nReportHeader3=\r\nFlowTolerance=5\r\nGraphLineWidth=1\r\nDefaultPressureUnit=mmHg\r\n[Connection Details]\r\n1DeviceSerialNumber=80001234\r\n2DeviceSerialNumber=20005678\r\n3DeviceSerialNumber=\r\n4DeviceSerialNumber=\r\n' \
            "$work/data" "$work/data" > "$work/settings/RivuletrixApp.ini"
    fi
    for seed in build/RX_Records.bak build/RX_Templates.bak; do
        [ -f "$seed" ] && cp -f "$seed" "$work/"
    done
    return 0
}

case "$mode" in
run)
    install_missing
    build build
    prepare_work
    exec "$top/scripts/run-with-simulators.sh" "$top/build" "$top/work"
    ;;
test)
    install_missing
    build build
    # The soak (half an hour) is run by hand, see the README.
    (cd build && ctest --output-on-failure -j "$jobs" -LE soak)
    # The Debian package, and what it declares.
    (cd build && cpack -G DEB >/dev/null && dpkg-deb --field rivuletrix_*.deb Package Version Depends)
    # Link and run-controller tests again under ThreadSanitizer.
    build build-tsan -DCMAKE_CXX_COMPILER=clang++ -DRIVULETRIX_TSAN=ON -DRIVULETRIX_GUI=OFF -DRIVULETRIX_BENCH=OFF
    (cd build-tsan && TSAN_OPTIONS="suppressions=$top/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
        ctest --output-on-failure -j "$jobs" -L tsan)
    # Fuzzers, 60 seconds each.
    build build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DRIVULETRIX_FUZZ=ON -DRIVULETRIX_GUI=OFF -DRIVULETRIX_BENCH=OFF
    for f in build-fuzz/fuzz/fuzz_*; do
        [ -f "$f" ] && [ -x "$f" ] || continue
        name=$(basename "$f")
        corpus=$top/build-fuzz/corpus-$name
        mkdir -p "$corpus"
        seeds=$top/fuzz/seeds/$name
        [ -d "$seeds" ] || seeds=
        echo "Fuzzing $name for 60 s"
        "$f" -max_total_time=60 -print_final_stats=0 "$corpus" $seeds 2>&1 | tail -n 3
    done
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
