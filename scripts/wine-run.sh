#!/bin/bash
# The emulator for test programs: runs a Windows program in the build's prefix.
# QOR_WINEPREFIX and QOR_TARGET_ARCH come from the test's environment.
: "${QOR_WINEPREFIX:?QOR_WINEPREFIX not set}"
. "$(dirname "$0")/wine-env.sh"
exec "$WINE_BIN" "$@"
