#!/bin/bash
# Installs what is missing, builds everything, and runs the system's main
# job in a fresh Wine prefix (build/runprefix): registers the server
# Hadrel.exe, lets a script build a configuration on the simulated
# controller through the automation interface and save it, then the script
# opens it, starts polling and reads the values while the simulated
# controller changes them, stops polling and releases the server, which
# must then exit by itself. Last the HMI host loads Oxley.dll, which starts
# the server on the same configuration, and reads and watches its values.
# The benchmarks are in scripts/bench.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QOR_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"
QOR_BUILD_DIR=$build "$root/scripts/build.sh"
arch=$(grep -m1 '^QOR_TARGET_ARCH:' "$build/CMakeCache.txt" | cut -d= -f2)
prefix=$build/runprefix
"$root/scripts/wine-prefix.sh" start "$prefix" "$arch"
plc=
cleanup() {
  [ -n "$plc" ] && kill "$plc" 2>/dev/null || true
  "$root/scripts/wine-prefix.sh" stop "$prefix" "$arch"
}
trap cleanup EXIT
export QOR_WINEPREFIX=$prefix QOR_TARGET_ARCH=$arch
. "$root/scripts/wine-env.sh"
cd "$build/bin"
winpath() { "$WINE_BIN" winepath -w "$1" 2>/dev/null; }
# The simulated plant's catalogue, read by the stand-in s732.dll in the server.
S732_CONFIG=$(winpath "$root/scripts/demo/s732.cfg")
export S732_CONFIG
config=$(winpath "$build")\\demo.qor
server=$(winpath "$build/bin/Hadrel.exe" | tr '[:lower:]' '[:upper:]')

# Waits up to $1 seconds for the server process to end; false when it did not.
server_gone() {
  for _ in $(seq 1 "$(( $1 * 5 ))"); do
    # The server's command line starts with its path (a search's own does not).
    ps -eo args= | awk -v s="$server" 'index($0, s) == 1 { found = 1 } END { exit !found }' || return 0
    sleep 0.2
  done
  return 1
}

echo "== Registering the server: Hadrel.exe /RegServer"
timeout 60 "$WINE_BIN" Hadrel.exe /RegServer
"$WINE_BIN" reg query 'HKCR\CLSID\{402D97D2-7270-11D6-B98B-0050DACA0D41}\LocalServer32' 2>/dev/null | grep REG_SZ || true

echo "== A script builds the demo configuration through the automation interface"
timeout 120 "$WINE_BIN" cscript //nologo "$(winpath "$root/scripts/demo.vbs")" save "$config"
server_gone 30 || { echo "the server did not exit after the script released it" >&2; exit 1; }

echo "== The simulated controller counts; the script opens the configuration, polls and reads the block"
"$WINE_BIN" hadrel_demo_plc.exe CP_DEMO VFD_DEMO PLC_DEMO 10 30 >/dev/null 2>&1 &
plc=$!
timeout 120 "$WINE_BIN" cscript //nologo "$(winpath "$root/scripts/demo.vbs")" poll "$config" 10
server_gone 30 || { echo "the server did not exit after its last client left" >&2; exit 1; }
echo "== The server exited cleanly after its last client left"

echo "== The HMI's view: hmi_host.exe loads Oxley.dll, which starts the server with the demo"
echo "   configuration (its registry defaults, DriverAutoStart), parses addresses, reads"
echo "   values with quality and time and watches a point by exception"
defaults='HKLM\Software\Veltrane\Drivers\QOR\DriverDefaults'
"$WINE_BIN" reg add "$defaults" /v DriverDefaultConfigFilePath /t REG_SZ /d "$(winpath "$build")\\" /f >/dev/null
"$WINE_BIN" reg add "$defaults" /v DriverDefaultConfigFileName /t REG_SZ /d demo.qor /f >/dev/null
"$WINE_BIN" reg add 'HKLM\Software\Veltrane\Drivers\QOR' /v DriverAutoStart /t REG_DWORD /d 1 /f >/dev/null
kill "$plc" 2>/dev/null || true
"$WINE_BIN" hadrel_demo_plc.exe CP_DEMO VFD_DEMO PLC_DEMO 10 20 >/dev/null 2>&1 &
plc=$!
timeout 120 "$WINE_BIN" hmi_host.exe --dismiss-boxes "$(winpath "$root/Kiv/demo/hmi_demo.txt")"
server_gone 30 || { echo "the server did not exit after the HMI released it" >&2; exit 1; }
echo "== The server exited after the HMI let it go"

echo "== An OPC client's view: opc_da_client.exe loads Brisko.dll (registered with its proxy"
echo "   library), which starts the server on the demo configuration; the client browses it,"
echo "   asks an item ID and reads the block's properties, then subscribes to the counting"
echo "   word (each OnDataChange line carries its value/quality/time) and releases Brisko"
timeout 60 "$WINE_BIN" regsvr32 /s OpcProxy.dll
timeout 60 "$WINE_BIN" regsvr32 /s Brisko.dll
kill "$plc" 2>/dev/null || true
"$WINE_BIN" hadrel_demo_plc.exe CP_DEMO VFD_DEMO PLC_DEMO 10 30 >/dev/null 2>&1 &
plc=$!
timeout 120 "$WINE_BIN" opc_da_client.exe --mta create status org "browse:branch~" "move:down~Press1" \
  "browse:leaf~" "itemid:DB10,0 - DB10,7" "browse:flat~" "properties:Press1:DB10,0" \
  "getprops:5000,5002,5003,5005~Press1:DB10,0" curfile \
  addgroup:G:250 advise:G "additem:G:count:0:1:Press1 DB10,0" sleep:3000 release freeunused
server_gone 30 || { echo "the server did not exit after the OPC client released Brisko" >&2; exit 1; }
echo "== The server exited after the OPC client let Brisko go"
