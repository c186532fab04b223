#!/usr/bin/env bash
# Mervo_Downloader.exe under Wine at the screen densities players' laptops have: 96, 144 and 192
# dpi (Wine's LogPixels). At each the window must be the design's 639 x 380 at that scale (drawn
# sharp, not stretched by the system), and its screenshot goes to SHOTS_DIR when given.
#   tests/windows/scales.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR [SHOTS_DIR]
# WINEPREFIX and DISPLAY as for tests/windows/window.sh; the list address's port is
# VALDRIS_WINE_WINDOW_PORT (default 18794). The prefix is left at 96 dpi. Ends with "N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=$1/winapp/Mervo_Downloader.exe
filelist=$2/tools/valdris-filelist
shots=${3:-}
port=${VALDRIS_WINE_WINDOW_PORT:-18794}
work=$(mktemp -d)
running=
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -w  # the density is read when Wine starts
}
cleanup() {
  [ -n "$running" ] && kill "$running" 2>/dev/null
  wineserver -k 2>/dev/null
  set_dpi 96
  "$root/scripts/nginx-serve" stop "$work/nginx"
  rm -rf "$work"
}
trap cleanup EXIT
source "$root/tests/windows/checks.sh"
drive=$WINEPREFIX/drive_c
windows_of() { xdotool search --onlyvisible --name "$1" 2>/dev/null; }

# A small game whose list the window shows while it waits for Start.
mkdir -p "$work/www/game/Data"
head -c $((3 * 1024 * 1024)) /dev/urandom > "$work/www/game/Data/pack1.pak"
"$filelist" build "$work/www/game" --url "http://127.0.0.1:$port/game/" -o "$work/www/filelist.json" >/dev/null
"$root/scripts/nginx-serve" start "$work/www" "$port" "$work/nginx"
rm -rf "$drive/DOWNLOAD" "$drive"/users/*/AppData/Roaming/Mervo_Downloader

for dpi in 96 144 192; do
  wineserver -k 2>/dev/null
  set_dpi "$dpi"
  wine "$exe" >/dev/null 2>&1 &
  running=$!
  wait_for 300 test -n "$(windows_of 'Downloader For VALDRIS')"
  window=$(windows_of 'Downloader For VALDRIS' | head -1)
  WIDTH=0 HEIGHT=0
  [ -n "$window" ] && eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)"
  want="$(( (639 * dpi + 48) / 96 ))x$(( (380 * dpi + 48) / 96 ))"
  check "at $dpi dpi the window is $want" test "${WIDTH}x${HEIGHT}" = "$want"
  sleep 1
  [ -n "$shots" ] && [ -n "$window" ] && import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$shots/windows-ready-${dpi}dpi.png"
  kill "$running" 2>/dev/null
  wait "$running" 2>/dev/null
  running=
done
summary "Mervo_Downloader.exe at three densities"
