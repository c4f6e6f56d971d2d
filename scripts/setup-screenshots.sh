#!/bin/bash
# Takes the pictures of Setup's windows in docs/screenshots/ under Xvfb with
# Wine's X driver, in a prefix of their own (build/setupshotprefix): Setup.exe
# runs from the distribution folder (build/dist) with a stand-in HMI key, and
# setup_ui_driver.exe walks it through its pages (first into a folder that
# cannot be made) into a folder with a blank, as a server node, to
# "Installation Successful". Last, the uninstall command runs while the
# driver's store is in use, and refuses.
set -euo pipefail
shot_prefix=setupshotprefix
. "$(dirname "$0")/shot-prefix.sh"
drive() { "$WINE_BIN" "$build/bin/setup_ui_driver.exe" "$@"; }

# The S7 software and an HMI (newer key, Halvo) as they would be on a plant.
cp "$build/bin/s732.dll" "$WINEPREFIX/drive_c/windows/system32/"
"$WINE_BIN" reg add 'HKLM\SOFTWARE\SIEMENS\SIMATIC_NET' /f >/dev/null 2>&1
for k in BASPATH:'C:\Halvo' PDBPATH:'C:\Halvo\PDB' NLSPATH:'C:\Halvo\NLS' NODENAME:PLANT1; do
  "$WINE_BIN" reg add "HKCR\\Software\\Brenta Dynamics\\${k%%:*}" /ve /d "${k#*:}" /f >/dev/null 2>&1
done
"$WINE_BIN" reg add 'HKLM\Software\Veltrane, Inc.\Halvo' /f >/dev/null 2>&1
mkdir -p "$WINEPREFIX/drive_c/Halvo/PDB"
echo "a file where a folder should be" > "$WINEPREFIX/drive_c/blocked"

main="QOR Server Installation"
wizard="@wizard"
cd "$build/dist"
"$WINE_BIN" Setup.exe &
setup=$!
drive wait "$main" 30000
shot setup-welcome 1
drive click "$main" 1002 wait "$wizard" 20000
shot setup-release-notes 1
drive next "$wizard"
shot setup-license 1
drive next "$wizard"
shot setup-destination 1
drive pageclick "$wizard" 1021 wait "Destination directory" 10000 expand "Destination directory" 1060
shot setup-browse-directory 1
drive click "Destination directory" 2
drive page "$wizard" 1020 'C:\blocked\QOR' next "$wizard" wait "QOR Server Setup" 10000
drive answer "QOR Server Setup" 6 shows "Failed to create directory" 10000
shot setup-failed-directory 1
drive answer "QOR Server Setup" 1
drive page "$wizard" 1020 'C:\Program Files\Veltrane QOR' next "$wizard" wait "QOR Server Setup" 10000
shot setup-create-directory 1
drive answer "QOR Server Setup" 6
shot setup-node-type 1
drive pagecheck "$wizard" 1030 next "$wizard"
shot setup-node-name 1
drive next "$wizard"
drive page "$wizard" 1050 'Veltrane QOR'
shot setup-program-folder 1
drive finish "$wizard"
shot setup-installing 1
# Wine only stubs accounts and rights, so the logon right's step fails
# with its box; the OPC libraries' registrations fail while the build does
# not make them. Each box is answered as a user would.
first=1
for _ in $(seq 1 60); do
  drive shows "Installation Successful" 2000 2>/dev/null && break
  if drive wait "I/O Server Setup Error" 2000 2>/dev/null; then
    [ "$first" = 1 ] && shot setup-error-box 0.5 && first=0
    drive answer "I/O Server Setup Error" 1 || true
  fi
done
shot setup-done 1
drive click "$main" 1002 || true
wait "$setup" || true
sleep 2

# The uninstall while the store is in use (held as a running driver would).
"$WINE_BIN" "$build/bin/setup_input_lock_holder.exe" >/dev/null &
holder=$!
sleep 2
"$WINE_BIN" "$build/bin/setup_install_host.exe" uninstall >/dev/null &
uninstall=$!
drive wait "Veltrane QOR Driver Setup" 30000
shot uninstall-running 1
drive answer "Veltrane QOR Driver Setup" 1
wait "$uninstall" || true
kill "$holder" 2>/dev/null || true
"$WINESERVER_BIN" -k 2>/dev/null || true
