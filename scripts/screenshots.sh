#!/bin/bash
# Makes the pictures in docs/screenshots/: each window program that has a
# screenshot host runs under Xvfb with Wine's X11 driver, in a prefix of its
# own (build/shotprefix) so that the tests' null-driver prefix stays as it is.
# Later windows add their hosts below.
set -euo pipefail
display=${DISPLAY:-}
root=$(cd "$(dirname "$0")/.." && pwd)
[ "${1:-}" = "--inside" ] || "$root/scripts/setup.sh" --pictures
build=${QOR_BUILD_DIR:-$root/build}
export QOR_TARGET_ARCH=${QOR_TARGET_ARCH:-$("$root/scripts/detect-arch.sh")}
export QOR_WINEPREFIX=$build/shotprefix
. "$root/scripts/wine-env.sh"
out=$root/docs/screenshots
mkdir -p "$out"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE_BIN" wineboot -i >/dev/null 2>&1 || true
  "$WINESERVER_BIN" -w 2>/dev/null || true
fi

hosts="scope_shots.exe"
if [ "${1:-}" = "--inside" ]; then
  # Under xvfb-run: DISPLAY names the virtual screen (wine-env.sh cleared it).
  export DISPLAY=$display
  "$WINE_BIN" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
  # No window manager runs here: Wine draws the captions and borders itself.
  "$WINE_BIN" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
  status=0
  for host in $hosts; do
    (cd "$build/bin" && "$WINE_BIN" "$host" "Z:${out//\//\\}") || status=1
  done
  "$WINESERVER_BIN" -k 2>/dev/null || true
  exit $status
fi

xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inside
ls -1 "$out"
