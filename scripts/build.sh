#!/bin/bash
# Configures and builds everything into ${QOR_BUILD_DIR:-build}.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QOR_BUILD_DIR:-$root/build}
# Configure every time: new module folders join only at configure time.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
