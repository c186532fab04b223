#!/usr/bin/env bash
# valdris-get.exe under Wine against nginx on loopback, as a player's machine would run it: a game of
# nested folders completes and verifies, a killed run resumes with a Range request, a hostile name is
# refused, a refused connection says 12029, Ctrl-C stops a transfer, a server that stalls is given up
# at the time-out or at Ctrl-C, a redirection loop ends after ten, and the log is the
# design's UTF-16LE file in the roaming application-data folder.
#   tests/windows/valdris-get.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
# WINEPREFIX must name a prefix made for the run. Ends with "N passed, M failed".
set -uo pipefail
# Job control: background runs keep their own signals, as a program in a terminal would.
set -m
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=$1/tools/valdris-get.exe
filelist=$2/tools/valdris-filelist
port=${VALDRIS_WINE_TEST_PORT:-18795}
work=$(mktemp -d)
trap '"$root/scripts/nginx-serve" stop "$work/nginx"; rm -rf "$work"' EXIT
source "$root/tests/windows/checks.sh"
drive=$WINEPREFIX/drive_c
run() { wine "$exe" "$@"; }  # in the foreground only: a background run is started directly, to have its pid

mkdir -p "$work/www/game/Data/Maps/World" "$work/www/bad"
head -c 3000000 /dev/urandom > "$work/www/game/Data/Maps/World/world.map"
head -c 70000 /dev/urandom > "$work/www/game/Data/a.pak"
printf 'setup\n' > "$work/www/game/VALDRIS_Setup.exe"
"$filelist" build "$work/www/game" --url "http://127.0.0.1:$port/game/" -o "$work/www/filelist.json" >/dev/null
sed 's#"Data/a.pak"#"../escape.bin"#' "$work/www/filelist.json" > "$work/www/bad/filelist.json"
NGINX_LIMIT_RATE=1m NGINX_ACCESS_LOG=$work/access.log "$root/scripts/nginx-serve" start "$work/www" "$port" "$work/nginx"
list=http://127.0.0.1:$port/filelist.json
rm -rf "$drive/valdris-test"

# A killed run, then a run that resumes the part.
folder='C:\valdris-test\VALDRIS'
target=$drive/valdris-test/VALDRIS
wine "$exe" --quiet --filelist "$list" --folder "$folder" >/dev/null 2>&1 &
pid=$!
for _ in $(seq 100); do
  size=$(stat -c %s "$target/Data/Maps/World/world.map" 2>/dev/null || echo 0)
  [ "$size" -gt 100000 ] && break
  sleep 0.05
done
kill -KILL "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
partial=$(stat -c %s "$target/Data/Maps/World/world.map" 2>/dev/null || echo 0)
check "a killed run leaves a part" test "$partial" -gt 0 -a "$partial" -lt 3000000
run --quiet --filelist "$list" --folder "$folder" > "$work/out" 2>&1
status=$?
check "the next run completes (exit 0)" test "$status" -eq 0
check "the part was resumed with Range:bytes=$partial-" grep -q "world.map [0-9]* bytes=$partial-" "$work/access.log"
same=true
for f in Data/Maps/World/world.map Data/a.pak VALDRIS_Setup.exe; do cmp -s "$work/www/game/$f" "$target/$f" || same=false; done
check "every file is the server's" $same
log=$(find "$drive/users" -path '*AppData/Roaming/Mervo_Downloader/Mervo_Downloader_*.txt' | head -1)
check "the log is in the roaming application-data folder" test -n "$log"
check "the log is UTF-16LE with the design's lines" \
  bash -c "iconv -f UTF-16LE -t UTF-8 '$log' | grep -q '\[INFO\] (100%) file download success'"

# A hostile name in the list.
run --quiet --filelist "http://127.0.0.1:$port/bad/filelist.json" --folder 'C:\valdris-test\bad' > "$work/out" 2>&1
status=$?
check "a ../ entry ends the run (exit 1)" test "$status" -eq 1
check "with message 118 (123)" grep -q "Failed to create file. (123)" "$work/out"
check "and nothing is written outside the folder" test ! -e "$drive/valdris-test/escape.bin"

# A refused connection.
run --quiet --filelist "http://127.0.0.1:1/filelist.json" --folder 'C:\valdris-test\none' > "$work/out" 2>&1
status=$?
check "a refused connection ends with exit 1" test "$status" -eq 1
check "and says (12029)" grep -q "(12029)" "$work/out"

# Ctrl-C in the middle of a file.
wine "$exe" --quiet --filelist "$list" --folder 'C:\valdris-test\stop' >/dev/null 2>&1 &
pid=$!
for _ in $(seq 100); do
  [ "$(stat -c %s "$drive/valdris-test/stop/Data/Maps/World/world.map" 2>/dev/null || echo 0)" -gt 0 ] && break
  sleep 0.05
done
start=$(date +%s%N)
kill -INT "$pid"
wait "$pid"
status=$?
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
check "Ctrl-C stops with exit 130 (${elapsed} ms)" test "$status" -eq 130
check "and keeps the part" test -s "$drive/valdris-test/stop/Data/Maps/World/world.map"

# A server that keeps the program waiting: every wait ends by the time-out or at Ctrl-C, long before
# the server would end it (it stalls for 10 minutes), and a redirection loop ends after ten.
stall_port=$((port + 1))
python3 "$root/tests/windows/stall-server.py" "$stall_port" "$work/stall.log" &
stall_server=$!
trap '"$root/scripts/nginx-serve" stop "$work/nginx"; kill "$stall_server" 2>/dev/null; rm -rf "$work"' EXIT
wait_for 50 bash -c "exec 3<>/dev/tcp/127.0.0.1/$stall_port" 2>/dev/null
stall=http://127.0.0.1:$stall_port
interrupt_when() {  # NAME FOLDER CONDITION...: starts a run, Ctrl-C once the condition holds
  local name=$1 list=$2
  shift 2
  wine "$exe" --quiet --filelist "$stall/$list" --folder 'C:\valdris-test\stall' >/dev/null 2>&1 &
  local pid=$!
  wait_for 200 "$@"
  local start
  start=$(date +%s%N)
  kill -INT "$pid"
  wait "$pid"
  local status=$? elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
  check "Ctrl-C during $name stops with exit 130 (${elapsed} ms)" test "$status" -eq 130 -a "$elapsed" -lt 20000
}
interrupt_when "a stalled list" list-stall.json grep -qs list-stall "$work/stall.log"
interrupt_when "a stalled file" list.json test -s "$drive/valdris-test/stall/big.bin"
start=$(date +%s)
run --filelist "$stall/list.json" --folder 'C:\valdris-test\stall' > "$work/out" 2>&1
status=$?
elapsed=$(( $(date +%s) - start ))
check "a stalled file ends with exit 1 (${elapsed} s)" test "$status" -eq 1 -a "$elapsed" -lt 120
check "after the 30-second time-out (12002)" grep -q "(12002)" "$work/out"
run --filelist "$stall/loop.json" --folder 'C:\valdris-test\stall' > "$work/out" 2>&1
status=$?
check "a redirection loop ends with exit 1" test "$status" -eq 1
check "and says (12156)" grep -q "(12156)" "$work/out"
check "after the first request and ten redirections" test "$(grep -c 'GET /loop.json' "$work/stall.log")" -eq 11

# valdris-filelist.exe: a key made by CNG, a list built and signed on Windows, checked by the Linux
# build (OpenSSL), and the other way round.
tool_exe=$1/tools/valdris-filelist.exe
mkdir -p "$work/keys"
wine "$tool_exe" keygen -o 'Z:'"$work/keys/win.pem" > "$work/out" 2>&1
check "valdris-filelist.exe makes a key pair" test -s "$work/keys/win.pem" -a -s "$work/keys/win.pem.pub"
wine "$tool_exe" build 'Z:'"$work/www/game" --url "http://127.0.0.1:$port/game/" -o 'Z:'"$work/www/signed.json" \
  --sign 'Z:'"$work/keys/win.pem" --expires 3 > "$work/out" 2>&1
check "and builds a signed list of the game" test -s "$work/www/signed.json.sig"
check "which the Linux build takes as signed by that key" \
  "$filelist" check "$work/www/signed.json" --key "$work/keys/win.pem.pub"
"$filelist" keygen -o "$work/keys/linux.pem" >/dev/null
wine "$tool_exe" sign 'Z:'"$work/www/filelist.json" --key 'Z:'"$work/keys/linux.pem" > "$work/out" 2>&1
check "a key made by the Linux build signs on Windows" \
  wine "$tool_exe" check "http://127.0.0.1:$port/filelist.json" --key 'Z:'"$work/keys/linux.pem.pub" --server

summary "valdris-get.exe under Wine"
