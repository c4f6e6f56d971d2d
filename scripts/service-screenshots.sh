#!/bin/bash
# Takes the pictures of the server's service-account dialog in
# docs/screenshots/ under Xvfb with Wine's X driver, in a prefix of their own
# (build/shotprefix): the dialog of a new service, "Use &This Account" with a
# blank name and its message, and the dialog of a service that runs under a
# named account.
set -euo pipefail
shot_prefix=shotprefix
. "$(dirname "$0")/shot-prefix.sh"
cd "$build/bin"
drive() { "$WINE_BIN" hadrel_ui_driver.exe "$@"; }
dialog="Logon Account for Running As A Service"

timeout 60 "$WINE_BIN" Hadrel.exe /RegServer
"$WINE_BIN" Hadrel.exe /RegService &
registration=$!
drive wait "$dialog" 30000
shot hadrel-service-account 2

# "Use &This Account" with a blank name.
drive check "$dialog" 1021 0 check "$dialog" 1022 1 click "$dialog" 1022 text "$dialog" 1024 "   "
drive click "$dialog" 1 wait Hadrel 10000
shot hadrel-service-account-blank 1
drive click Hadrel 1
# A named account: what Wine's LogonUser answers decides whether the
# verification question shows.
drive text "$dialog" 1024 "op" text "$dialog" 1026 "secret" click "$dialog" 1
if drive wait Hadrel 3000; then
  shot hadrel-service-account-question 1
  drive print Hadrel
  drive click Hadrel 6
fi
wait "$registration" || true

# Registering again shows the service's named account.
"$WINE_BIN" Hadrel.exe /RegService &
registration=$!
drive wait "$dialog" 30000
shot hadrel-service-account-named 2
drive click "$dialog" 2
wait "$registration" || true
sleep 2
"$WINESERVER_BIN" -k 2>/dev/null || true
