#!/usr/bin/env bash
# One large file over several connections: nginx caps each connection at RATE per second (as CDN
# edges and busy servers do), optionally behind bench/delay-proxy.py for a round trip of RTT ms.
# Contenders, each into a new folder, order rotated every round, medians of ROUNDS rounds:
# valdris-get (its default connections: the file in segments), valdris-get --connections 1 (one
# connection, as before segments), aria2c -x8 -s8 with its MD5 check, and curl + md5sum -c.
# Peak memory (max RSS) of valdris-get is printed as well.
# Usage: bench/segments.sh [SIZE_BYTES] [RATE] [RTT_MS] [ROUNDS]     (RATE 0: no cap)
source "$(dirname "$0")/lib.sh"
size=${1:-$((128 * 1024 * 1024))} rate=${2:-16m} rtt=${3:-0} rounds=${4:-3}
proxy_port=$((BENCH_PORT + 1))
build_release
new_workdir segments
make_files "$work/www/game" 1 "$size" big
port=$BENCH_PORT
NGINX_LIMIT_RATE=$rate "$ROOT/scripts/nginx-serve" start "$work/www" "$BENCH_PORT" "$work/nginx"
if [ "$rtt" -gt 0 ]; then
  python3 "$ROOT/bench/delay-proxy.py" "$proxy_port" "$BENCH_PORT" $((rtt / 2)) &
  proxy=$!
  trap 'kill $proxy 2>/dev/null; "$ROOT/scripts/nginx-serve" stop "$work/nginx"; rm -rf "$work"' EXIT
  port=$proxy_port
  sleep 0.5
fi
base=http://127.0.0.1:$port
"$ROOT/build-release/tools/valdris-filelist" build "$work/www/game" --url "$base/game/" -o "$work/www/list.json" >/dev/null
sum=$(md5sum "$work/www/game/big0.bin" | cut -d' ' -f1)
echo "$sum  big0.bin" > "$work/files.md5"
get=$ROOT/build-release/tools/valdris-get
export XDG_STATE_HOME=$work/state

contender() {
  local out
  out=$(mktemp -d "$work/out.XXXXXX")
  case "$1" in
    valdris-get) /usr/bin/time -f "%M" -o "$work/rss" "$get" --quiet --filelist "$base/list.json" --folder "$out" ;;
    valdris-get-1) "$get" --quiet --connections 1 --filelist "$base/list.json" --folder "$out" ;;
    aria2c-x8) aria2c -q -x8 -s8 --file-allocation=none --auto-file-renaming=false --checksum="md5=$sum" -d "$out" \
                 -o big0.bin "$base/game/big0.bin" ;;
    curl) (cd "$out" && curl -s -o big0.bin "$base/game/big0.bin" && md5sum --quiet -c "$work/files.md5") ;;
  esac
  rm -rf "$out"
}

names=(valdris-get valdris-get-1 aria2c-x8 curl)
results=$work/results.txt
for ((round = 0; round < rounds; ++round)); do
  for ((i = 0; i < ${#names[@]}; ++i)); do
    who=${names[$(((i + round) % ${#names[@]}))]}
    warm_memory "$size"
    start=$(date +%s%N)
    contender "$who"
    echo "$who $(($(date +%s%N) - start))" >> "$results"
    [ "$who" = valdris-get ] && echo "rss $(cat "$work/rss")" >> "$results"
  done
done
python3 - "$results" "$size" "$rate" "$rtt" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
print(f"one file of {sys.argv[2]} B, each connection capped at {sys.argv[3]}/s, RTT {sys.argv[4]} ms; median seconds:")
for who in dict.fromkeys(r[0] for r in rows if r[0] != "rss"):
    times = [int(r[1]) / 1e9 for r in rows if r[0] == who]
    print(f"  {who:<15} {statistics.median(times):8.2f}  ({', '.join(f'{t:.2f}' for t in times)})")
rss = [int(r[1]) for r in rows if r[0] == "rss"]
print(f"  valdris-get peak memory: {max(rss) / 1024:.1f} MB")
PY
