#!/usr/bin/env bash
# Many small files at a real round trip: nginx on loopback behind bench/delay-proxy.py, which holds
# every piece RTT/2 in each direction. COUNT files of SIZE bytes, fetched into a new folder by each
# contender in turn, the order rotated every round, at RTT 0 (straight to nginx) and at RTT ms;
# medians of ROUNDS rounds. Contenders: valdris-get with its default connections (16) and with 6 (and
# with one, each file in its turn, when ONE=1), curl -Z --parallel-max 16 then md5sum -c, and
# aria2c -j16 with its MD5 checks.
# With SET=demo, the demo game of scripts/demo instead (266 MB: packs of 24 MiB, maps, music and 150
# small voice lines, in nested folders); COUNT and SIZE are then ignored.
# Needs curl, aria2c, python3. Usage: [SET=demo] bench/real-link.sh [COUNT] [SIZE_BYTES] [RTT_MS] [ROUNDS]
source "$(dirname "$0")/lib.sh"
count=${1:-2000} size=${2:-16384} rtt=${3:-50} rounds=${4:-3}
proxy_port=$((BENCH_PORT + 1))
build_release
new_workdir real-link
if [ "${SET:-}" = demo ]; then
  game=$work/www/game
  mkdir -p "$game/Data" "$game/Maps/World" "$game/Maps/Dungeon" "$game/Sound/Music" "$game/Sound/Voice"
  for i in 1 2 3 4 5 6 7 8; do head -c $((24 * 1024 * 1024 + i * 4099)) /dev/urandom > "$game/Data/pack$i.pak"; done
  for i in $(seq 1 6); do head -c $((6 * 1024 * 1024 + i)) /dev/urandom > "$game/Maps/World/region$i.map"; done
  for i in $(seq 1 4); do head -c $((3 * 1024 * 1024 + i)) /dev/urandom > "$game/Maps/Dungeon/dungeon$i.map"; done
  for i in $(seq 1 12); do head -c $((2 * 1024 * 1024 + i)) /dev/urandom > "$game/Sound/Music/track$i.ogg"; done
  for i in $(seq 1 150); do head -c $((16 * 1024 + i * 37)) /dev/urandom > "$game/Sound/Voice/line$i.wav"; done
  count=$(find "$game" -type f | wc -l) size=mixed
else
  make_files "$work/www/game" "$count" "$size" f
fi
(cd "$work/www/game" && find . -type f -printf '%P\n' | sort > "$work/names" && xargs md5sum < "$work/names" > "$work/files.md5")
for target in direct:$BENCH_PORT proxied:$proxy_port; do
  name=${target%%:*} port=${target#*:} base=http://127.0.0.1:${target#*:}
  "$ROOT/build-release/tools/valdris-filelist" build "$work/www/game" --url "$base/game/" \
    -o "$work/www/$name.json" >/dev/null
  while read -r f; do printf 'url = "%s/game/%s"\noutput = "%s"\ncreate-dirs\n' "$base" "$f" "$f"; done \
    < "$work/names" > "$work/$name.curl"
  while read -r sum f; do printf '%s/game/%s\n  out=%s\n  checksum=md5=%s\n' "$base" "$f" "$f" "$sum"; done \
    < "$work/files.md5" > "$work/$name.aria2"
done
"$ROOT/scripts/nginx-serve" start "$work/www" "$BENCH_PORT" "$work/nginx"
python3 "$ROOT/bench/delay-proxy.py" "$proxy_port" "$BENCH_PORT" $((rtt / 2)) &
proxy=$!
trap 'kill $proxy 2>/dev/null; "$ROOT/scripts/nginx-serve" stop "$work/nginx"; rm -rf "$work"' EXIT
sleep 0.5
get=$ROOT/build-release/tools/valdris-get

# contender NAME LINK: runs one contender into a new folder; prints nothing.
contender() {
  local out
  out=$(mktemp -d "$work/out.XXXXXX")
  case "$1" in
    valdris-get) "$get" --quiet --filelist "http://127.0.0.1:$3/$2.json" --folder "$out" ;;
    valdris-get-6) "$get" --quiet --connections 6 --filelist "http://127.0.0.1:$3/$2.json" --folder "$out" ;;
    valdris-get-1) "$get" --quiet --connections 1 --filelist "http://127.0.0.1:$3/$2.json" --folder "$out" ;;
    curl-16) (cd "$out" && curl -s -Z --parallel-max 16 -K "$work/$2.curl" 2>/dev/null && md5sum --quiet -c "$work/files.md5") ;;
    aria2c-16) aria2c -q -j16 --file-allocation=none --auto-file-renaming=false -d "$out" -i "$work/$2.aria2" ;;
  esac
  rm -rf "$out"
}

names=(valdris-get valdris-get-6 curl-16 aria2c-16)
[ "${ONE:-0}" = 1 ] && names+=(valdris-get-1)
results=$work/results.txt
for link in direct:$BENCH_PORT:0 proxied:$proxy_port:$rtt; do
  IFS=: read -r name port ms <<< "$link"
  for ((round = 0; round < rounds; ++round)); do
    for ((i = 0; i < ${#names[@]}; ++i)); do
      who=${names[$(((i + round) % ${#names[@]}))]}
      start=$(date +%s%N)
      contender "$who" "$name" "$port"
      echo "$ms $who $(($(date +%s%N) - start))" >> "$results"
    done
  done
done
python3 - "$results" "$count" "$size" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
print(f"{sys.argv[2]} files of {sys.argv[3]} B, median seconds:")
for rtt in dict.fromkeys(r[0] for r in rows):
    for who in dict.fromkeys(r[1] for r in rows):
        times = [int(r[2]) / 1e9 for r in rows if r[0] == rtt and r[1] == who]
        print(f"  RTT {rtt:>3} ms  {who:<15} {statistics.median(times):8.2f}  ({', '.join(f'{t:.2f}' for t in times)})")
PY
