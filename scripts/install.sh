#!/bin/bash
# Installs the system from the distribution folder that the build assembles
# (build/dist) into a fresh Wine prefix (build/installprefix), as a server
# node into "C:\Program Files\Veltrane QOR", through Setup.dll's
# InstallDriver (the host setup_install_host.exe passes the choices the
# Setup program's wizard would gather). The S7 library's own software is
# stood in for first: its key and the stand-in s732.dll in the system
# folder. Wine only stubs accounts, groups and rights, and no display is
# here for message boxes: the test-only log file (QOR_TEST_LOG_FILE) takes
# the boxes and the account calls, and is shown. Then the README's main job
# runs against the installed server, and last the uninstall command that the
# installation left runs: the user's configuration file (PLANT1.QOR, made
# from default.QOR) must be left as it was, and nothing else of the
# installation. Any failing step fails the script. Extra arguments: "keep"
# leaves it installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QOR_BUILD_DIR:-$root/build}
keep=${1:-}
arch=$(grep -m1 '^QOR_TARGET_ARCH:' "$build/CMakeCache.txt" | cut -d= -f2)
prefix=$build/installprefix
"$root/scripts/wine-prefix.sh" start "$prefix" "$arch"
plc=
cleanup() {
  [ -n "$plc" ] && kill "$plc" 2>/dev/null || true
  "$root/scripts/wine-prefix.sh" stop "$prefix" "$arch"
}
trap cleanup EXIT
export QOR_WINEPREFIX=$prefix QOR_TARGET_ARCH=$arch
. "$root/scripts/wine-env.sh"
winpath() { "$WINE_BIN" winepath -w "$1" 2>/dev/null; }
system32=$("$WINE_BIN" cmd /c echo %windir% 2>/dev/null | tr -d '\r')\\system32
cp "$build/bin/s732.dll" "$("$WINE_BIN" winepath -u "$system32" 2>/dev/null)/"
"$WINE_BIN" reg add 'HKLM\SOFTWARE\SIEMENS\SIMATIC_NET' /f >/dev/null 2>&1
target='C:\Program Files\Veltrane QOR'
dist=$(winpath "$build/dist")

echo "== Installing from $dist into $target (server node)"
cd "$build/bin"
log=$prefix/drive_c/setup.log
rm -f "$log"
QOR_TEST_LOG_FILE='C:\setup.log' timeout 300 "$WINE_BIN" setup_install_host.exe 1 1 1 "$dist" "$target" "$target" "$target" PLANT1 "Veltrane QOR"
echo "== What Setup showed and asked for (boxes, account calls):"
cat "$log" 2>/dev/null || true
"$WINE_BIN" reg query 'HKCR\CLSID\{402D97D2-7270-11D6-B98B-0050DACA0D41}\LocalServer32' 2>/dev/null | grep REG_SZ
"$WINE_BIN" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Hadrel' /v UninstallString 2>/dev/null | grep REG_SZ
unix_target=$("$WINE_BIN" winepath -u "$target" 2>/dev/null)
# The user's configuration file that the installation made from default.QOR.
user_config=$unix_target/PLANT1.QOR
[ -f "$user_config" ] || { echo "the installation made no configuration file $user_config" >&2; exit 1; }
user_config_sum=$(md5sum < "$user_config")

echo "== The main job against the installed server"
S732_CONFIG=$(winpath "$root/scripts/demo/s732.cfg")
export S732_CONFIG
config='C:\demo.qor'
timeout 120 "$WINE_BIN" cscript //nologo "$(winpath "$root/scripts/demo.vbs")" save "$config"
sleep 3
"$WINE_BIN" hadrel_demo_plc.exe CP_DEMO VFD_DEMO PLC_DEMO 10 30 >/dev/null 2>&1 &
plc=$!
timeout 120 "$WINE_BIN" cscript //nologo "$(winpath "$root/scripts/demo.vbs")" poll "$config" 10
kill "$plc" 2>/dev/null || true
plc=
sleep 3
[ "$keep" = keep ] && exit 0

echo "== Uninstalling with the UninstallString"
rm -f "$log"
QOR_TEST_LOG_FILE='C:\setup.log' timeout 120 "$WINE_BIN" setup_install_host.exe uninstall
cat "$log" 2>/dev/null || true
echo "left in $target:"; ls "$unix_target" || true
failed=
fail() { echo "$1" >&2; failed=1; }
if [ ! -f "$user_config" ]; then
  fail "the configuration file $user_config did not survive the uninstall"
elif [ "$(md5sum < "$user_config")" != "$user_config_sum" ]; then
  fail "the uninstall changed the configuration file $user_config"
fi
if "$WINE_BIN" reg query 'HKCR\CLSID\{402D97D2-7270-11D6-B98B-0050DACA0D41}' >/dev/null 2>&1; then
  fail "the server's class is still registered"
fi
# Only the user's configuration files stay.
for f in "$unix_target"/*; do
  [ -e "$f" ] || continue
  case "$f" in *.QOR) ;; *) fail "left in the installation folder: $f" ;; esac
done
menu=$("$WINE_BIN" winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Veltrane QOR' 2>/dev/null)
[ -e "$menu" ] && fail "the Start-menu folder is still there: $menu"
"$WINE_BIN" reg query 'HKLM\Software\Veltrane\Drivers' >/dev/null 2>&1 && fail "the driver keys are still there"
shared=$("$WINE_BIN" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDlls' 2>/dev/null | tr -d '\r' |
         grep -iE 'Veltrane QOR|OpcProxy|opc_aeps' || true)
[ -n "$shared" ] && fail "shared counts are still there: $shared"
unix_system32=$("$WINE_BIN" winepath -u "$system32" 2>/dev/null)
for f in OpcProxy.dll opc_aeps.dll; do
  [ -e "$unix_system32/$f" ] && fail "the shared library $f is still in the system folder"
done
[ -n "$failed" ] && exit 1
echo "== Uninstalled: only the configuration files are left, the server's class, the shortcuts, the settings, the shared counts and the OPC proxy libraries are gone"
