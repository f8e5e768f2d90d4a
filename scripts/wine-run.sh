#!/usr/bin/env bash
# Runs a program of the Windows build under Wine; the cross build's emulator,
# so ctest and the build's own steps (the seed databases) use it too.
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
# Qt's DLLs and plugins come from the kit (RX_WIN_KIT, else build-win-kit/ of
# the repository). A Qt Test program writes its log to a file (its console
# output does not reach a pipe under Wine), shown when it ends. Programs with
# windows use the Windows platform plugin on the X display in DISPLAY.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
kit=${RX_WIN_KIT:-$top/build-win-kit/qt-6.4.2-mingw64}
export WINEPREFIX=${WINEPREFIX:-$top/build-win/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No debugger: a crash ends the program at once instead of waiting on it.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}
if [ ! -d "$WINEPREFIX" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
fi
# RX_WINE_BARE=1: an installed program, with only what lies beside it.
if [ -z "${RX_WINE_BARE:-}" ]; then
    export WINEPATH="$(winepath -w "$kit/bin" 2>/dev/null)"
    export QT_PLUGIN_PATH="$(winepath -w "$kit/plugins" 2>/dev/null)"
else
    unset WINEPATH QT_PLUGIN_PATH
fi
# The offscreen platform does not quit under Wine; a display does.
# (Without DPI awareness: Wine lacks the calls Qt makes for it.)
[ "${QT_QPA_PLATFORM:-}" = offscreen ] && export QT_QPA_PLATFORM=windows:dpiawareness=0
prog=$1
shift
case "$(basename "$prog")" in
test_*.exe)
    log=$(mktemp /tmp/rx-wine-test.XXXXXX)
    wine "$prog" "$@" -o "$(winepath -w "$log")",txt
    rc=$?
    cat "$log"
    rm -f "$log"
    exit $rc
    ;;
*)
    exec wine "$prog" "$@"
    ;;
esac
