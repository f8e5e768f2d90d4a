#!/usr/bin/env bash
# Set-up for a Debian 12 machine. Idempotent.
#   scripts/setup.sh run   install what is missing, build, prepare work/, start
#                          simulated analyzers and the program
#   scripts/setup.sh test  install what is missing, build, run every test
#                          (plain, ThreadSanitizer and fuzzing builds)
#   scripts/setup.sh windows  cross-build for Windows with MinGW-w64 and the Qt
#                          kit (RX_WIN_KIT_ARCHIVE, else ../shared/windows/ beside
#                          the repository), make the installer and the ZIP in
#                          build-win/, run the tests under Wine
set -euo pipefail
mode=${1:-}
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

packages=(build-essential cmake ninja-build ccache clang libclang-rt-14-dev poppler-utils
          qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite libqt6sql6-psql qt6-qpa-plugins
          libbenchmark-dev fonts-liberation2 xvfb xauth desktop-file-utils
          postgresql)

windows_packages=(g++-mingw-w64-x86-64-posix wine64 wine nsis xvfb xauth cmake ninja-build
                  ccache qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libqt6sql6-sqlite
                  python3)

install_missing() { # packages... (default: the Linux build's)
    [ $# -gt 0 ] || set -- "${packages[@]}"
    local missing=()
    for p in "$@"; do
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
windows)
    install_missing "${windows_packages[@]}"
    kit_archive=${RX_WIN_KIT_ARCHIVE:-$top/../shared/windows/qt-6.4.2-mingw64.tar.xz}
    export RX_WIN_KIT=$top/build-win-kit/qt-6.4.2-mingw64
    if [ ! -f "$RX_WIN_KIT/mingw.cmake" ]; then
        [ -f "$kit_archive" ] || { echo "No Qt kit for Windows at $kit_archive (set RX_WIN_KIT_ARCHIVE)" >&2; exit 1; }
        rm -rf "$top/build-win-kit"
        mkdir -p "$top/build-win-kit"
        tar xf "$kit_archive" -C "$top/build-win-kit"
    fi
    # Programs with windows need a display under Wine: a private Xvfb.
    display=:$((70 + RANDOM % 200))
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill $xvfb 2>/dev/null' EXIT INT TERM
    export DISPLAY=$display
    # The build runs the seed-database maker, and ctest runs the tests, under
    # Wine through the emulator.
    build build-win -DCMAKE_TOOLCHAIN_FILE="$RX_WIN_KIT/mingw.cmake" -DCMAKE_PREFIX_PATH="$RX_WIN_KIT" \
        -DQT_HOST_PATH=/usr -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
        -DRIVULETRIX_BENCH=OFF -DRIVULETRIX_FUZZ=OFF \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$top/scripts/wine-run.sh"
    (cd build-win && cpack -G NSIS >/dev/null && cpack -G ZIP >/dev/null && ls -l rivuletrix-*-win64.*)
    bash "$top/tests/win/installer_under_wine.sh" build-win/rivuletrix-*-win64.exe
    # The serial path: the Linux simulator on a pseudo-terminal as a COM port
    # of the Wine prefix, the Windows CLI against it, its record against the
    # Linux CLI's from the same scenario.
    cmake -S . -B build-sim -G Ninja -DRIVULETRIX_GUI=OFF -DRIVULETRIX_BENCH=OFF >/dev/null
    cmake --build build-sim -j "$jobs" --target pxr-sim rivuletrix-cli
    bash "$top/tests/win/serial_under_wine.sh" "$top/build-sim" "$top/build-win"
    # Last: its result is the command's.
    (cd build-win && ctest --output-on-failure -j "$jobs" -LE soak)
    ;;
*)
    echo "usage: $0 run|test|windows" >&2
    exit 2
    ;;
esac
