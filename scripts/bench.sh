#!/bin/bash
# Builds and runs the benchmark programs whose figures the README gives:
# S7 reads from the simulated controller, and the shared memory store across
# two processes, in a fresh Wine prefix (build/benchprefix).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QOR_BUILD_DIR:-$root/build}
"$root/scripts/setup.sh"
QOR_BUILD_DIR=$build "$root/scripts/build.sh"
cmake --build "$build" --target server_s7_bench store_bench brisko_browse_bench >/dev/null
arch=$(grep -m1 '^QOR_TARGET_ARCH:' "$build/CMakeCache.txt" | cut -d= -f2)
prefix=$build/benchprefix
"$root/scripts/wine-prefix.sh" start "$prefix" "$arch"
trap '"$root/scripts/wine-prefix.sh" stop "$prefix" "$arch"' EXIT
export QOR_WINEPREFIX=$prefix QOR_TARGET_ARCH=$arch
cd "$build/bin"
echo "== S7 reads from the simulated controller"
"$root/scripts/wine-run.sh" server_s7_bench.exe 2000
echo "== Shared memory store across two processes"
"$root/scripts/wine-run.sh" store_bench.exe blocks 5000 records 5000
echo "== OPC browsing and item properties through Brisko against Hadrel"
printf 'cp CP_BENCH\nvfd CP_BENCH VFD_BENCH\n' > "$build/bench_opc.cfg"
for d in 0 1 2 3; do echo "connection CP_BENCH VFD_BENCH PLC$d" >> "$build/bench_opc.cfg"; done
S732_CONFIG=$("$root/scripts/wine-run.sh" winepath -w "$build/bench_opc.cfg" 2>/dev/null)
export S732_CONFIG
"$root/scripts/wine-run.sh" regsvr32 /s OpcProxy.dll
"$root/scripts/wine-run.sh" regsvr32 /s Brisko.dll
"$root/scripts/wine-run.sh" Hadrel.exe /RegServer
"$root/scripts/wine-run.sh" brisko_browse_bench.exe 200
echo "== OPC data changes and reads through Brisko against Hadrel on the simulated controller"
"$root/scripts/wine-run.sh" opc_bench.exe 10
echo "== OPC AddItems and ValidateItems through Brisko against Hadrel"
"$root/scripts/wine-run.sh" opc_bench.exe additems
