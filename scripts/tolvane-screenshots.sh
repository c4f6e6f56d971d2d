#!/bin/bash
# Takes the pictures of Tolvane's windows in docs/screenshots/ under Xvfb
# with Wine's X driver, in a prefix of their own (build/shotprefix): the
# connection dialog at start, its remote mode with the network tree (Wine
# has no network providers), the status box, the main window with the
# configuration's tree, the channel, device and data block panes, the Edit
# menu, the delete question, the modify and copy dialogs, the whole main
# window with its toolbars and status bar, the About box, the Tracewell window,
# the data monitor, the Setup sheet's pages and the Templates dialog's tabs,
# the driver form, the System Statistics form and the statistics panes, the
# tree bar floating and the main toolbar docked on the left, and the dialog
# again from "&OLE Server" with "Connection Already Established". The
# configuration lies in C:\QOR, so the titles show no folder of the machine
# that takes the pictures; the simulated controller counts while the server
# polls.
set -euo pipefail
shot_prefix=shotprefix
. "$(dirname "$0")/shot-prefix.sh"
cd "$build/bin"
drive() { "$WINE_BIN" tolvane_ui_driver.exe "$@"; }
dialog="I/O Driver Server Connection"

S732_CONFIG=$(winpath "$root/scripts/demo/s732.cfg")
export S732_CONFIG
timeout 60 "$WINE_BIN" Hadrel.exe /RegServer
# The stand-in for the outside context-help control (Setup does not ship
# it; the tests register it the same way).
timeout 60 "$WINE_BIN" regsvr32 /s ContextHelp.dll
# A configuration the server opens at start, so the main window has a file.
demo_configuration
sleep 3
# The simulated controller counts in DB10 (the block "Counts") while the
# pictures are taken.
"$WINE_BIN" hadrel_demo_plc.exe CP_DEMO VFD_DEMO PLC_DEMO 10 600 >/dev/null 2>&1 &
plc=$!
trap 'kill "$plc" 2>/dev/null || true' EXIT

"$WINE_BIN" Tolvane.exe &
tool=$!
drive wait "$dialog" 30000
shot tolvane-connect-dialog 2

# Remote mode: the name and the tree come alive; expanding "Network" finds
# no provider under Wine.
drive check "$dialog" 8103 0 check "$dialog" 8104 1 click "$dialog" 8104 text "$dialog" 8101 PLANT3 expand "$dialog" 8106
drive wait Error 10000 || true
shot tolvane-network-error 1
drive click Error 1 || true
shot tolvane-connect-remote 1

# Back to local, and connect: the status box, then the main window.
drive check "$dialog" 8104 0 check "$dialog" 8103 1 click "$dialog" 8103 text "$dialog" 8101 "" click "$dialog" 1159
drive shows "Connecting to Local Server..." 10000
shot tolvane-status-box 0.3
drive shows "Connection Established" 30000
shot tolvane-status-established 0.5
shot tolvane-main-window 4

# The whole tree, then a data block and its properties beside it.
frame=TolvaneMainFrame
drive treeall $frame
shot tolvane-tree-expanded 1
drive treepath $frame 0.0
shot tolvane-channel-pane 2
drive treepath $frame 0.0.0
shot tolvane-device-pane 2
drive treepath $frame 0.0.0.0
shot tolvane-tree-block 2
# The whole main window: toolbars, tree, the block's pane, status bar; the
# About box; the data monitor opened from the View menu's "&Tracewell".
shot tolvane-main-frame 1
drive command $frame 57664 wait "About Tolvane" 10000
shot tolvane-about 1
drive click "About Tolvane" 1
sleep 1
drive command $frame 32787 wait Tracewell 10000 || true
shot tolvane-tracewell 2
drive command $frame 32787
sleep 1
# The help window below the pane follows the field last used; F1 on
# "Block Name:" shows the field's pop-up (Escape closes it).
drive notify $frame 7001 256
shot tolvane-help-pane 2
drive f1 $frame 7001
shot tolvane-context-help 2
drive keydown QorContextHelpPopup 27
# The data monitor of the block, from its pane's "Data Monitor" button, in
# Byte form and then Hex, while the server polls the counting controller.
drive command $frame 32793
sleep 3
drive button $frame 1187 wait "Data Monitor for Counts" 10000
shot tolvane-data-monitor 5
drive select "Data Monitor for Counts" 2333 2
shot tolvane-data-monitor-hex 3
drive click "Data Monitor for Counts" 1
drive command $frame 32794
sleep 1
drive menu $frame e
shot tolvane-edit-menu 3
drive keydown $frame 27 sleep 300 keydown $frame 27
# The delete question; No keeps the block.
drive command $frame 32775 wait Tolvane 10000
shot tolvane-delete-question 1
drive click Tolvane 7
sleep 1
# The object dialog in modify mode for the block, in copy mode for its device.
drive command $frame 32776 wait "Modify Data Block" 10000
shot tolvane-modify-dialog 1
drive click "Modify Data Block" 2
drive treepath $frame 0.0.0
drive command $frame 32774 wait "Copy Device" 10000
shot tolvane-copy-dialog 1
drive click "Copy Device" 2
drive treepath $frame 0
shot tolvane-driver-form 2

# Statistics while the server polls the simulated controller.
drive command $frame 32793
sleep 3
drive command $frame 32778
shot tolvane-system-stats 3
drive treepath $frame 0.0
shot tolvane-channel-stats 3
drive treepath $frame 0.0.0
shot tolvane-device-stats 3
drive treepath $frame 0.0.0.0
shot tolvane-block-stats 3
drive command $frame 32777
drive treepath $frame 0

# The Setup sheet's three pages, then the Templates dialog's three tabs.
drive command $frame 32788 wait Tolvane 10000
shot tolvane-setup-display 1
drive sheetpage Tolvane 1
shot tolvane-setup-path 1
drive sheetpage Tolvane 2
shot tolvane-setup-advanced 1
drive click Tolvane 2
sleep 1
drive command $frame 32786 wait Templates 10000
shot tolvane-templates-channel 1
drive tab Templates 1001 1
shot tolvane-templates-device 1
drive tab Templates 1001 2
shot tolvane-templates-datablock 1
drive click Templates 2
sleep 1

# Docking: the tree bar let go in the view floats in a window of its own,
# and goes back to the left; the main toolbar dragged to the left edge
# stands upright there, and goes back to the top.
drive dragbar $frame 1000 430 40
shot tolvane-tree-floating 2
drive dragbar $frame 1000 2 200
sleep 1
drive dragbar $frame 128 2 80
shot tolvane-toolbar-left 2
drive dragbar $frame 128 2 2
sleep 1

# "&OLE Server" with the server attached: the dialog shows; Connect finds
# the connection already there.
drive command TolvaneMainFrame 32789 wait "$dialog" 10000
drive click "$dialog" 1159 shows "Connection Already Established" 10000
shot tolvane-status-already 0.3
sleep 2
drive close TolvaneMainFrame
wait "$tool" || true
sleep 3
"$WINESERVER_BIN" -k 2>/dev/null || true
