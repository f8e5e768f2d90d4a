#!/usr/bin/env bash
# The NSIS installer under Wine, in a prefix of its own: a silent install puts
# the programs, DLLs, plugins and manual in the installation folder with a
# Start-menu entry and an uninstaller; the installed CLI runs from there; the
# silent uninstall takes it all away again.
#   installer_under_wine.sh INSTALLER.exe
set -euo pipefail
installer=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
export WINEPREFIX=$(mktemp -d /tmp/rx-wine-install.XXXXXX)
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
trap 'wineserver -k 2>/dev/null; rm -rf "$WINEPREFIX"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
wineboot -i >/dev/null 2>&1
wine "$installer" /S >/dev/null 2>&1 || fail "the silent install failed"
wineserver -w
dir="$WINEPREFIX/drive_c/Program Files/Rivuletrix"
for f in rivuletrix.exe rivuletrix-cli.exe Qt6Core.dll platforms/qwindows.dll sqldrivers/qsqlite.dll \
    libstdc++-6.dll manual/index.html RX_Records.bak Uninstall.exe; do
    [ -e "$dir/$f" ] || fail "not installed: $f"
done
menu=$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -iname 'Rivuletrix*.lnk' | head -1)
[ -n "$menu" ] || fail "no Start-menu entry"
said=$(wine "$dir/rivuletrix-cli.exe" record show 'C:\no-such.p8d' 2>&1 || true)
grep -q 'no such file' <<<"$said" || fail "the installed CLI does not run: $said"
wine "$dir/Uninstall.exe" /S >/dev/null 2>&1 || true
wineserver -w
for _ in $(seq 50); do [ -e "$dir/rivuletrix.exe" ] || break; sleep 0.2; done
[ ! -e "$dir/rivuletrix.exe" ] || fail "the uninstaller left the program"
echo "installer: installed, Start-menu entry $(basename "$menu"), CLI ran, uninstalled: PASS"
