#!/usr/bin/env bash
# The Windows installer under Wine: made with makensis from the Windows build's programs, installed
# silently, then uninstalled; what it installs is where a user looks for it (Program Files, the Start
# menu, the system's list of programs), and what it leaves is only the user's log and game.
#   tests/windows/installer.sh WINDOWS_BUILD_DIR
# WINEPREFIX must name a prefix made for the run. Ends with "N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$root/tests/windows/checks.sh"
drive=$WINEPREFIX/drive_c
program=$drive/Program\ Files/VALDRIS\ Downloader
menu=$drive/ProgramData/Microsoft/Windows/Start\ Menu/Programs/VALDRIS\ Downloader
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VALDRIS Downloader'
version=$(sed -n 's/^project(valdris_downloader VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

mkdir -p "$work/bin"
cp "$build/winapp/Mervo_Downloader.exe" "$build/tools/valdris-get.exe" "$build/tools/valdris-filelist.exe" "$work/bin/"
makensis -V1 -DBIN="$work/bin" -DOUT="$work/setup.exe" "$root/packaging/windows/valdris-downloader.nsi"
check "makensis makes the installer" test -s "$work/setup.exe"

wine "$work/setup.exe" /S
for exe in Mervo_Downloader.exe valdris-get.exe valdris-filelist.exe Uninstall.exe; do
  check "$exe is in Program Files" test -s "$program/$exe"
done
check "the Start menu has the window" test -s "$menu/VALDRIS Downloader.lnk"
check "and the uninstaller" test -s "$menu/Uninstall VALDRIS Downloader.lnk"
check "the list of programs knows the version" bash -c "wine reg query '$key' /v DisplayVersion 2>/dev/null | grep -q '$version'"
check "the installed valdris-get.exe runs" bash -c "wine '$program/valdris-get.exe' --version 2>/dev/null | grep -q 'valdris-get $version'"

# What the user made meanwhile: a game and a log.
roaming=$(find "$drive/users" -maxdepth 3 -path '*/AppData/Roaming' | grep -v /Public/ | head -1)
mkdir -p "$drive/DOWNLOAD/VALDRIS" "$roaming/Mervo_Downloader"
echo game > "$drive/DOWNLOAD/VALDRIS/pack.pak"
echo log > "$roaming/Mervo_Downloader/Mervo_Downloader_20261210.txt"

# The uninstaller copies itself away and runs from there: wait for its work.
wine "$program/Uninstall.exe" /S
gone() { [ ! -e "$program" ] && [ ! -e "$menu" ]; }
check "uninstalling removes the programs and the Start menu entries" wait_for 100 gone
check "and the entry in the list of programs" bash -c "! wine reg query '$key' >/dev/null 2>&1"
check "the user's game stays" test -s "$drive/DOWNLOAD/VALDRIS/pack.pak"
check "and the user's log" test -s "$roaming/Mervo_Downloader/Mervo_Downloader_20261210.txt"

summary "the Windows installer under Wine"
