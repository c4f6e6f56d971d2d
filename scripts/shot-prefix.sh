# shellcheck shell=bash
# Sourced by the picture scripts after they set shot_prefix (the prefix's
# folder under the build folder). Installs what pictures need, runs the
# script again under Xvfb, makes a fresh prefix there whose own desktop draws
# the windows' frames and captions (Xvfb has no window manager), starts a
# persistent wineserver, and gives `shot NAME [SECONDS]`, `winpath` and
# `demo_configuration`.
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QOR_BUILD_DIR:-$root/build}
if [ -z "${QOR_IN_XVFB:-}" ]; then
  "$root/scripts/setup.sh" --pictures
  exec env QOR_IN_XVFB=1 xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi
arch=$(grep -m1 '^QOR_TARGET_ARCH:' "$build/CMakeCache.txt" | cut -d= -f2)
out=$root/docs/screenshots
mkdir -p "$out"
display=$DISPLAY
export QOR_WINEPREFIX=$build/$shot_prefix QOR_TARGET_ARCH=$arch
. "$root/scripts/wine-env.sh"
export DISPLAY=$display
"$WINESERVER_BIN" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE_BIN" wineboot -i >/dev/null 2>&1 || true
"$WINE_BIN" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$WINE_BIN" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
"$WINESERVER_BIN" -k 2>/dev/null || true
"$WINESERVER_BIN" -w 2>/dev/null || true
"$WINESERVER_BIN" -p
winpath() { "$WINE_BIN" winepath -w "$1" 2>/dev/null; }
shot() { sleep "${2:-1}"; import -window root "$out/$1.png"; echo "$out/$1.png"; }
# The demo configuration saved by the VBScript client as C:\QOR\demo.qor
# and made the server's default file (Hadrel.exe registered first): the
# pictures' titles show no folder of the machine that takes them.
demo_configuration() {
  config='C:\QOR\demo.qor'
  mkdir -p "$WINEPREFIX/drive_c/QOR"
  timeout 120 "$WINE_BIN" cscript //nologo "$(winpath "$root/scripts/demo.vbs")" save "$config" >/dev/null
  local defaults='HKLM\Software\Veltrane\Drivers\QOR\DriverDefaults'
  "$WINE_BIN" reg add "$defaults" /v DriverDefaultConfigFilePath /t REG_SZ /d 'C:\QOR\' /f >/dev/null
  "$WINE_BIN" reg add "$defaults" /v DriverDefaultConfigFileName /t REG_SZ /d demo.qor /f >/dev/null
}
