# Sourced by the scripts that run Windows programs. Sets WINE_BIN and
# WINESERVER_BIN for the architecture of the build, and the Wine environment
# for the prefix $QOR_WINEPREFIX.
case "${QOR_TARGET_ARCH:-x86_64}" in
  i686)   WINE_BIN=/usr/lib/wine/wine;   WINESERVER_BIN=/usr/lib/wine/wineserver32; export WINEARCH=win32 ;;
  x86_64) WINE_BIN=/usr/lib/wine/wine64; WINESERVER_BIN=/usr/lib/wine/wineserver64; export WINEARCH=win64 ;;
esac
[ -x "$WINESERVER_BIN" ] || WINESERVER_BIN=$(command -v wineserver)
export WINEPREFIX="$QOR_WINEPREFIX"
export WINEDEBUG=${WINEDEBUG:--all}
export WINESERVER="$WINESERVER_BIN"
# No desktop here: Wine's null graphics driver serves every window.
export DISPLAY=
