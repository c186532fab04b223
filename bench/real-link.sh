#!/usr/bin/env bash
# valdris-get at a real round trip: nginx on loopback behind bench/delay-proxy.py, which holds every
# piece RTT/2 in each direction; COUNT small files fetched into an empty folder, at RTT 0 (straight
# to nginx) and at RTT ms, medians of ROUNDS runs (hyperfine).
# Usage: bench/real-link.sh [COUNT] [SIZE_BYTES] [RTT_MS] [ROUNDS]
source "$(dirname "$0")/lib.sh"
count=${1:-200} size=${2:-16384} rtt=${3:-50} rounds=${4:-3}
proxy_port=$((BENCH_PORT + 1))
build_release
new_workdir real-link
make_files "$work/www/game" "$count" "$size" f
for target in direct:$BENCH_PORT proxied:$proxy_port; do
  "$ROOT/build-release/tools/valdris-filelist" build "$work/www/game" \
    --url "http://127.0.0.1:${target#*:}/game/" -o "$work/www/${target%%:*}.json" >/dev/null
done
"$ROOT/scripts/nginx-serve" start "$work/www" "$BENCH_PORT" "$work/nginx"
python3 "$ROOT/bench/delay-proxy.py" "$proxy_port" "$BENCH_PORT" $((rtt / 2)) &
proxy=$!
trap 'kill $proxy 2>/dev/null; "$ROOT/scripts/nginx-serve" stop "$work/nginx"; rm -rf "$work"' EXIT
sleep 0.5
get=$ROOT/build-release/tools/valdris-get
hyperfine -r "$rounds" --prepare "rm -rf $work/out" \
  -n "valdris-get, $count x $size B, RTT 0" "$get --quiet --filelist http://127.0.0.1:$BENCH_PORT/direct.json --folder $work/out" \
  -n "valdris-get, $count x $size B, RTT $rtt ms" "$get --quiet --filelist http://127.0.0.1:$proxy_port/proxied.json --folder $work/out"
