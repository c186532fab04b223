#!/usr/bin/env bash
# The window against the terminal downloader on the same sets, side by side: the time from pressing
# Start to the last file verified, and the CPU the window's process spends on it (worker included),
# on 1,000 x 16 KiB and 8 x 25 MiB; rounds rotate between the two, medians are reported. Then the
# start-up time (process start to the window showing a 5,000-entry list's total) and the window's
# resident memory during a 1 GiB transfer. Runs on a virtual display, driven with xdotool.
# With RTT=MS, every request goes through bench/delay-proxy.py (RTT/2 each way) and only the side by
# side on the two sets runs: the window at a real round trip.
# Needs Xvfb, xdotool. Usage: [RTT=MS] bench/window.sh [ROUNDS]
source "$(dirname "$0")/lib.sh"
rounds=${1:-5}
build=$ROOT/build-bench-window
cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVALDRIS_BUILD_TESTS=OFF \
  -DVALDRIS_FILELIST_URL="http://127.0.0.1:$BENCH_PORT/current/filelist.json" >/dev/null
cmake --build "$build" >/dev/null
work=$(mktemp -d "$(bench_parent)/window.XXXXXX")
display=:$((150 + RANDOM % 50))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap '"$ROOT/scripts/nginx-serve" stop "$work/nginx"; kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
export DISPLAY=$display
base=http://127.0.0.1:$BENCH_PORT

prepare_set() {  # NAME COUNT SIZE
  make_files "$work/www/$1" "$2" "$3" f
  "$build/tools/valdris-filelist" build "$work/www/$1" --url "$base/$1/" -o "$work/www/$1.json" >/dev/null
}
prepare_set small 1000 16384
prepare_set medium 8 $((25 * 1024 * 1024))
prepare_set many 5000 16
prepare_set big 1 $((1024 * 1024 * 1024))
if [ -n "${RTT:-}" ]; then
  # nginx behind the proxy, which takes the addresses the window and the lists name.
  "$ROOT/scripts/nginx-serve" start "$work/www" $((BENCH_PORT + 2)) "$work/nginx"
  python3 "$ROOT/bench/delay-proxy.py" "$BENCH_PORT" $((BENCH_PORT + 2)) $((RTT / 2)) &
  proxy=$!
  trap 'kill $proxy 2>/dev/null; "$ROOT/scripts/nginx-serve" stop "$work/nginx"; kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
  sleep 0.5
else
  "$ROOT/scripts/nginx-serve" start "$work/www" "$BENCH_PORT" "$work/nginx"
fi
# The window's built-in address names "current": the set under test.
use_set() { mkdir -p "$work/www/current" && cp "$work/www/$1.json" "$work/www/current/filelist.json"; }

now_ms() { date +%s%3N; }
cpu_ms() { awk -v hz="$(getconf CLK_TCK)" '{print int(($14 + $15) * 1000 / hz)}' "/proc/$1/stat"; }
# The window's own threads: the main thread (its id is the process's) and Qt's X event reader; the
# worker and the checksum helper do what valdris-get does.
window_cpu_ms() {
  local total=0 task
  for task in /proc/"$1"/task/*; do
    if [ "${task##*/}" = "$1" ] || grep -q '^QXcb' "$task/comm"; then
      total=$((total + $(awk -v hz="$(getconf CLK_TCK)" '{print int(($14 + $15) * 1000 / hz)}' "$task/stat")))
    fi
  done
  echo "$total"
}
succeeded() { iconv -f UTF-16LE -t UTF-8 "$1"/state/Mervo_Downloader/*.txt 2>/dev/null | grep -q "total download is succeeded"; }

# One run of the window into a fresh home: prints "logged_ms cpu_ms window_cpu_ms elapsed_ms" from
# Start to the end.
window_run() {
  local home
  home=$(mktemp -d "$work/home.XXXXXX")
  mkdir -p "$home/home" "$home/run"
  chmod 700 "$home/run"
  HOME=$home/home XDG_STATE_HOME=$home/state XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run \
    "$build/qtapp/Mervo_Downloader" >/dev/null 2>&1 &
  local pid=$! window=""
  for _ in $(seq 600); do
    window=$(xdotool search --pid "$pid" --name "Downloader For VALDRIS" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    sleep 0.02
  done
  eval "$(xdotool getwindowgeometry --shell "$window")"
  sleep 0.3
  local cpu0 window0 start
  cpu0=$(cpu_ms "$pid")
  window0=$(window_cpu_ms "$pid")
  start=$(now_ms)
  xdotool mousemove $((X + 323)) $((Y + 333)) click 1
  until succeeded "$home"; do sleep 0.01; done
  local elapsed=$(($(now_ms) - start))
  # The window's own account, from its log: the press of Start to the last file verified, without
  # the time the click takes to arrive and this script's polling.
  local logged
  logged=$(iconv -f UTF-16LE -t UTF-8 "$home"/state/Mervo_Downloader/*.txt | awk -F'[],:[]' '
    function ms() { return (($2 * 60 + $3) * 60 + $4) * 1000 + $5 }
    /file download start/ { start = ms() } /total download is succeeded/ { print ms() - start }')
  echo "$logged $(($(cpu_ms "$pid") - cpu0)) $(($(window_cpu_ms "$pid") - window0)) $elapsed"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  rm -rf "$home"
}

terminal_run() {
  local out start
  out=$(mktemp -d "$work/out.XXXXXX")
  start=$(now_ms)
  "$build/tools/valdris-get" --quiet --filelist "$base/$1.json" --folder "$out"
  echo $(($(now_ms) - start))
  rm -rf "$out"
}

window_round() {
  local ms cpu gui elapsed
  read -r ms cpu gui elapsed < <(window_run)
  echo "$elapsed" >> "$work/outside.$1"
  echo "$ms" >> "$work/window.$1"
  echo "$cpu" >> "$work/cpu.$1"
  echo "$gui" >> "$work/gui.$1"
}

median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }

for name in small medium; do
  use_set "$name"
  : > "$work/window.$name" && : > "$work/cpu.$name" && : > "$work/gui.$name" && : > "$work/terminal.$name"
  : > "$work/outside.$name"
  for round in $(seq "$rounds"); do
    # Rotated: odd rounds start with the window, even rounds with the terminal.
    if [ $((round % 2)) -eq 1 ]; then
      window_round "$name"
      terminal_run "$name" >> "$work/terminal.$name"
    else
      terminal_run "$name" >> "$work/terminal.$name"
      window_round "$name"
    fi
  done
  window=$(median < "$work/window.$name")
  terminal=$(median < "$work/terminal.$name")
  cpu=$(median < "$work/cpu.$name")
  gui=$(median < "$work/gui.$name")
  outside=$(median < "$work/outside.$name")
  awk -v n="$name" -v w="$window" -v t="$terminal" -v c="$cpu" -v g="$gui" -v o="$outside" 'BEGIN {
    printf "%-7s window %6d ms by its log, %6d ms seen from outside (CPU: process %4d ms, window threads %4d ms)   valdris-get %6d ms   ratio %.2f\n", n, w, o, c, g, t, w / t }'
done
[ -n "${RTT:-}" ] && exit 0

# Start-up: from the process's start to the window showing the 5,000-entry list's total.
use_set many
: > "$work/startup"
for _ in $(seq "$rounds"); do
  home=$(mktemp -d "$work/home.XXXXXX")
  mkdir -p "$home/home" "$home/run"
  chmod 700 "$home/run"
  start=$(now_ms)
  HOME=$home/home XDG_STATE_HOME=$home/state XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run \
    "$build/qtapp/Mervo_Downloader" >/dev/null 2>"$work/startup.err" &
  pid=$!
  until xdotool search --pid "$pid" --name "Downloader For VALDRIS" >/dev/null 2>&1; do
    kill -0 "$pid" 2>/dev/null || { echo "the window ended before it showed:" >&2; cat "$work/startup.err" >&2; exit 1; }
    sleep 0.005
  done
  echo $(($(now_ms) - start)) >> "$work/startup"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
done
echo "start-up with 5,000 entries: $(median < "$work/startup") ms (median of $rounds)"

# Resident memory of the window's process during a 1 GiB transfer, sampled every 100 ms.
use_set big
home=$(mktemp -d "$work/home.XXXXXX")
mkdir -p "$home/home" "$home/run"
HOME=$home/home XDG_STATE_HOME=$home/state XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run \
  "$build/qtapp/Mervo_Downloader" >/dev/null 2>&1 &
pid=$!
window=""
until [ -n "$window" ]; do window=$(xdotool search --pid "$pid" --name "Downloader For VALDRIS" 2>/dev/null | head -1 || true); sleep 0.05; done
eval "$(xdotool getwindowgeometry --shell "$window")"
sleep 0.3
xdotool mousemove $((X + 323)) $((Y + 333)) click 1
: > "$work/rss"
until succeeded "$home"; do awk '/VmRSS/ {print $2}' "/proc/$pid/status" >> "$work/rss"; sleep 0.1; done
kill "$pid"
wait "$pid" 2>/dev/null || true
sort -n "$work/rss" | awk 'NR==1{min=$1} {max=$1; n++} END {printf "window RSS during 1 GiB: %d samples, min %d KiB, max %d KiB\n", n, min, max}'
