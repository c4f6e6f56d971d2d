#!/bin/bash
# Installs what is missing, builds everything, and runs the system's main job.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
echo "Built into ${QOR_BUILD_DIR:-$root/build}/bin. The server is not built yet: nothing to run."
