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
# The end-to-end programs drive real windows and processes under Wine, whose
# timing a loaded machine stretches: a program that fails runs once more, and
# only a second failure fails the run (both outputs are shown).
ctest --output-on-failure --repeat until-pass:2 -j"$(nproc)" "$@" || status=$?
end=$(date +%s)
echo "build $((built - start)) s, tests $((end - built)) s"
exit $status
