#!/bin/bash
# wine-prefix.sh start|stop PREFIX ARCH
# start: makes a fresh prefix, selects the null graphics driver (windows work
# without a display) and leaves one persistent wineserver running, so each test
# process starts quickly. stop: shuts that wineserver down.
set -eu
cmd=$1; export QOR_WINEPREFIX=$2; export QOR_TARGET_ARCH=$3
. "$(dirname "$0")/wine-env.sh"
case "$cmd" in
  start)
    # The daemons started here must not hold ctest's output pipe open.
    exec >/dev/null 2>&1 </dev/null
    "$WINESERVER_BIN" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # Wine refuses a prefix it does not own; CI and sessions both run as root.
    WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE_BIN" wineboot -i >/dev/null 2>&1 || true
    "$WINE_BIN" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    # A crashing test must fail at once, not wait in Wine's debugger until
    # ctest's timeout.
    "$WINE_BIN" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d 'cmd.exe /c exit' /f >/dev/null 2>&1
    "$WINE_BIN" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 1 /f >/dev/null 2>&1
    "$WINESERVER_BIN" -k 2>/dev/null || true
    "$WINESERVER_BIN" -w 2>/dev/null || true
    "$WINESERVER_BIN" -p
    "$WINE_BIN" cmd /c exit 0 >/dev/null 2>&1 || true
    ;;
  stop)
    "$WINESERVER_BIN" -k 2>/dev/null || true
    ;;
  *) echo "usage: $0 start|stop PREFIX ARCH" >&2; exit 2 ;;
esac
