#!/usr/bin/env bash
# Mervo_Downloader.exe under Wine on a virtual display, driven with xdotool as a user would: the
# window appears at 639 x 380, Start brings the game in verified, Pause asks and stops, Start
# resumes with a Range request, Launch starts the setup program and ends the downloader, and a
# second copy shows its message and ends. Screenshots of the ready, running and complete window go
# to SHOTS_DIR when given.
#   tests/windows/window.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR [SHOTS_DIR]
# WINEPREFIX must name a prefix made for the run and DISPLAY a display without a window manager;
# the Windows build's list address must be http://127.0.0.1:PORT/filelist.json with PORT
# VALDRIS_WINE_WINDOW_PORT (default 18794). Ends with "N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=$1/winapp/Mervo_Downloader.exe
setup_exe=$1/tools/VALDRIS_Setup.exe
filelist=$2/tools/valdris-filelist
shots=${3:-}
port=${VALDRIS_WINE_WINDOW_PORT:-18794}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  "$root/scripts/nginx-serve" stop "$work/nginx"
  rm -rf "$work"
}
trap cleanup EXIT
source "$root/tests/windows/checks.sh"
drive=$WINEPREFIX/drive_c
target=$drive/DOWNLOAD/VALDRIS
windows_of() { xdotool search --onlyvisible --name "$1" 2>/dev/null; }
log_has() { iconv -f UTF-16LE -t UTF-8 "$drive"/users/*/AppData/Roaming/Mervo_Downloader/*.txt 2>/dev/null | grep -qF "$1"; }
shoot() { [ -n "$shots" ] && import -window root -crop "639x380+$X+$Y" "$shots/$1"; true; }
# Answers the message box that is up (its default button: OK or Yes).
answer_box() {
  local box
  box=$(windows_of '^Mervo_Downloader$' | head -1)
  [ -n "$box" ] || return 1
  xdotool windowfocus --sync "$box" 2>/dev/null
  xdotool key Return
}
box_up() { [ -n "$(windows_of '^Mervo_Downloader$')" ]; }
no_box() { [ -z "$(windows_of '^Mervo_Downloader$')" ]; }
gone() { ! kill -0 "$1" 2>/dev/null; }

# The game: three packs large enough to watch, and the setup program.
game=$work/www/game
mkdir -p "$game/Data"
for i in 1 2 3; do head -c $((3 * 1024 * 1024 + i)) /dev/urandom > "$game/Data/pack$i.pak"; done
cp "$setup_exe" "$game/VALDRIS_Setup.exe"
"$filelist" build "$game" --url "http://127.0.0.1:$port/game/" -o "$work/www/filelist.json" >/dev/null
NGINX_LIMIT_RATE=2m NGINX_ACCESS_LOG=$work/access.log "$root/scripts/nginx-serve" start "$work/www" "$port" "$work/nginx"
rm -rf "$drive/DOWNLOAD" "$drive"/users/*/AppData/Roaming/Mervo_Downloader

wine "$exe" >/dev/null 2>&1 &
pids+=($!)
first=$!
wait_for 300 test -n "$(windows_of 'Downloader For VALDRIS')"
window=$(windows_of 'Downloader For VALDRIS' | head -1)
check "the window appears" test -n "$window"
eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)"
check "at 639 x 380" test "${WIDTH:-0}x${HEIGHT:-0}" = "639x380"
sleep 1
shoot windows-ready.png
# The same window drawn by the Qt front end with the same texts: outside the texts the two agree
# pixel for pixel (the same artwork, the same layout); in the texts they differ only by the fonts.
import -window root -crop "639x380+$X+$Y" +repage "$work/windows-ready.png"
QT_QPA_PLATFORM=offscreen "$2/tools/valdris-screenshot" --text-mask "$work/mask.png" 2>/dev/null
QT_QPA_PLATFORM=offscreen "$2/tools/valdris-screenshot" "$work/qt-ready.png" 1009=Data/pack1.pak \
  1013="3.00 MB" 1012="3.00 MB" 1021="9.75 MB" 1025="9.75 MB" '1029=C:\DOWNLOAD\VALDRIS' 2>/dev/null
convert "$work/mask.png" -negate "$work/outside.png"
masked_difference() {  # MASK FUZZ: pixels that differ within the mask's white
  convert "$work/qt-ready.png" "$work/$1" -compose multiply -composite "$work/a.png"
  convert "$work/windows-ready.png" "$work/$1" -compose multiply -composite "$work/b.png"
  compare -metric AE -fuzz "$2" "$work/a.png" "$work/b.png" null: 2>&1
}
outside=$(masked_difference outside.png 0)
check "outside the texts the Qt window and this one agree pixel for pixel ($outside differ)" test "$outside" = 0
# In the texts, compared a little blurred so the two fonts' rasters do not count, only where the
# words stand: the same texts give about 0.01, a window without its texts about 0.04.
masked_difference mask.png 0 >/dev/null
convert "$work/a.png" -blur 0x3 "$work/a.png"
convert "$work/b.png" -blur 0x3 "$work/b.png"
texts=$(compare -metric RMSE "$work/a.png" "$work/b.png" null: 2>&1 | sed 's/.*(\(.*\))/\1/')
check "in the texts they differ only by the fonts (RMSE $texts)" awk "BEGIN { exit !($texts < 0.02) }"

xdotool mousemove $((X + 323)) $((Y + 333)) click 1      # Start
check "Start begins the transfer" wait_for 100 test -s "$target/Data/pack1.pak"
xdotool mousemove 5 5
sleep 1.5
shoot windows-transfer.png
xdotool mousemove $((X + 407)) $((Y + 333)) click 1      # Pause
check "Pause asks first" wait_for 50 box_up
answer_box
check "and stops once answered Yes" wait_for 50 log_has "file download stop"
check "the question is gone" wait_for 30 no_box
sleep 1
size_before=$(du -cb "$target" 2>/dev/null | tail -1 | cut -f1)
sleep 1
size_after=$(du -cb "$target" 2>/dev/null | tail -1 | cut -f1)
check "nothing arrives while paused ($size_before bytes)" test "$size_before" = "$size_after"

xdotool mousemove $((X + 323)) $((Y + 333)) click 1      # Start again
check "the game completes" wait_for 300 log_has "total download is succeeded"
check "the stopped file resumed with a Range request" grep -qE ' bytes=[1-9][0-9]*-' "$work/access.log"
same=true
for file in Data/pack1.pak Data/pack2.pak Data/pack3.pak VALDRIS_Setup.exe; do
  cmp -s "$game/$file" "$target/$file" || same=false
done
check "every file arrived whole" $same
xdotool mousemove 5 5
sleep 1
shoot windows-complete.png

xdotool mousemove $((X + 491)) $((Y + 333)) click 1      # Launch
check "Launch starts the setup program in the install folder" wait_for 100 test -s "$target/setup-started.txt"
check "which says where it runs" grep -qF 'VALDRIS setup started in C:\DOWNLOAD\VALDRIS' "$target/setup-started.txt"
check "and the downloader ends" wait_for 100 gone "$first"
wineserver -k 2>/dev/null  # the setup program's box
sleep 1

# One copy per session.
wine "$exe" >/dev/null 2>&1 &
pids+=($!)
first=$!
wait_for 300 test -n "$(windows_of 'Downloader For VALDRIS')"
wine "$exe" >/dev/null 2>&1 &
pids+=($!)
second=$!
check "a second copy shows its message" wait_for 100 box_up
answer_box
check "and ends" wait_for 50 gone "$second"
check "while the first window stays" test "$(windows_of 'Downloader For VALDRIS' | wc -l)" -eq 1
window=$(windows_of 'Downloader For VALDRIS' | head -1)
eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)"
xdotool mousemove $((X + 575)) $((Y + 333)) click 1      # Cancel
check "Cancel asks before closing" wait_for 50 box_up
answer_box
check "and the window closes" wait_for 50 gone "$first"

summary "Mervo_Downloader.exe under Wine"
