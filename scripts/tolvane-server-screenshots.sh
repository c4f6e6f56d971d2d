#!/bin/bash
# Takes the pictures of Tolvane as a document server in docs/screenshots/
# under Xvfb with Wine's X driver, in a prefix of its own
# (build/oleshotprefix): the test container ole_container.exe inserts a
# Tolvane object and opens it in Tolvane's own window (the embedded menu,
# its File popup), the container with the object's picture after "E&xit",
# and the object active in the container's window.
set -euo pipefail
shot_prefix=oleshotprefix
. "$(dirname "$0")/shot-prefix.sh"
cd "$build/bin"
drive() { "$WINE_BIN" tolvane_ui_driver.exe "$@"; }

S732_CONFIG=$(winpath "$root/scripts/demo/s732.cfg")
export S732_CONFIG
timeout 60 "$WINE_BIN" Hadrel.exe /RegServer
timeout 60 "$WINE_BIN" Tolvane.exe /RegServer
demo_configuration
# The remembered local server: the object connects without the dialog.
profile='HKCU\Software\Veltrane\Tolvane\OLEServerInfo'
"$WINE_BIN" reg add "$profile" /v ShowOnStartup /d FALSE /f >/dev/null
"$WINE_BIN" reg add "$profile" /v RemoteLocal /d 0 /f >/dev/null
sleep 3

# Open editing: Tolvane's own window with the embedded menu.
"$WINE_BIN" ole_container.exe insert UserInterface.Document verb -2 &
container=$!
drive wait "$config in Plant Report" 60000 || true
frame=TolvaneMainFrame
drive treeall $frame
shot tolvane-embedded-window 3
drive menu $frame f
shot tolvane-embedded-file-menu 2
drive keydown $frame 27 sleep 300 keydown $frame 27
# "E&xit": the object goes back into the container, which draws its picture.
drive command $frame 57665
shot tolvane-embedded-picture 4
drive close QorTestContainer
wait "$container" || true
sleep 3

# In place: the object active inside the container's window. Wine's X
# driver draws no window whose parent belongs to another process, so the
# picture shows what the container drew there before the activation.
"$WINE_BIN" ole_container.exe insert UserInterface.Document verb -1 sleep 5000 log "$(winpath "$build")\\inplace.log" &
container=$!
drive wait "Test Container" 60000
shot tolvane-in-place 8
drive close QorTestContainer
wait "$container" || true
sleep 3
"$WINESERVER_BIN" -k 2>/dev/null || true
