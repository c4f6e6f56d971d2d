#!/bin/bash
# Installs what is missing, builds, and runs every test under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QOR_BUILD_DIR:-$root/build}
start=$(date +%s)
"$root/scripts/setup.sh"
QOR_BUILD_DIR=$build "$root/scripts/build.sh"
built=$(date +%s)
cd "$build"
status=0
ctest --output-on-failure -j"$(nproc)" "$@" || status=$?
end=$(date +%s)
echo "build $((built - start)) s, tests $((end - built)) s"
exit $status
