#!/usr/bin/env bash
# Updating a changed file from its old version: valdris-get (block indexes from valdris-filelist
# build --blocks) beside zsync (zsyncmake's control file) on the same files, served by nginx on
# loopback. Two cases: 256 MiB with 64 scattered 40 KiB changes and 100 bytes inserted near the start,
# and 1 GiB with 1 % changed in place (256 scattered 40 KiB changes). For each: the bytes nginx sent
# to each contender (its access log; index and control file included) and the time to the whole,
# verified file (hyperfine, the old version copied back before every run).
# RTT=MS puts bench/delay-proxy.py in front of nginx (each piece held MS/2 in each direction);
# CASES="insert-256m" picks cases.
# Needs hyperfine, zsync, python3. Usage: [RTT=MS] [CASES=...] bench/delta.sh [RUNS]
source "$(dirname "$0")/lib.sh"
runs=${1:-3}
build_release
valdris_get=$ROOT/build-release/tools/valdris-get
filelist_tool=$ROOT/build-release/tools/valdris-filelist
new_workdir delta
rtt=${RTT:-0}
cases=${CASES:-insert-256m inplace-1g}
port=$BENCH_PORT
[ "$rtt" -gt 0 ] && port=$((BENCH_PORT + 1))
base=http://127.0.0.1:$port

# make_case NAME SIZE_MIB CHANGES INSERT_BYTES: $work/NAME/old and the published new version.
make_case() {
  local name=$1 dir=$work/$1
  mkdir -p "$dir" "$work/www/$name"
  head -c $(($2 * 1024 * 1024)) /dev/urandom > "$dir/old"
  python3 - "$dir/old" "$work/www/$name/game.pak" "$3" "$4" <<'PY'
import os, random, sys
old, new, changes, insert = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
random.seed(7)
size = os.path.getsize(old)
spots = sorted(random.sample(range(40960, size - 40960, 40960), changes))
with open(old, 'rb') as src, open(new, 'wb') as dst:
    at = 0
    if insert:  # bytes inserted near the start
        dst.write(src.read(1000)); dst.write(os.urandom(insert)); at = 1000
    for spot in spots:
        dst.write(src.read(spot - at)); src.seek(40960, 1); dst.write(os.urandom(40960)); at = spot + 40960
    while True:
        piece = src.read(1 << 22)
        if not piece: break
        dst.write(piece)
PY
  "$filelist_tool" build "$work/www/$name" --blocks --url "$base/$name/" -o "$work/www/$name.json" >/dev/null
  zsyncmake -u "$base/$name/game.pak" -o "$work/www/$name.zsync" "$work/www/$name/game.pak" >/dev/null 2>&1
  md5sum < "$work/www/$name/game.pak" | cut -d' ' -f1 > "$dir/new.md5"
}
for name in $cases; do
  case $name in
    insert-256m) make_case insert-256m 256 64 100 ;;
    inplace-1g) make_case inplace-1g 1024 256 0 ;;
  esac
done

export NGINX_ACCESS_LOG=$work/access.log
"$ROOT/scripts/nginx-serve" start "$work/www" "$BENCH_PORT" "$work/nginx"
if [ "$rtt" -gt 0 ]; then
  python3 "$ROOT/bench/delay-proxy.py" "$port" "$BENCH_PORT" $((rtt / 2)) &
  proxy=$!
  trap 'kill $proxy 2>/dev/null; "$ROOT/scripts/nginx-serve" stop "$work/nginx"; rm -rf "$work"' EXIT
  sleep 0.5
fi

# The commands of one contender on one case: the old version is put back first.
valdris_cmd() { echo "$valdris_get --quiet --filelist $base/$1.json --folder $work/$1/valdris"; }
zsync_cmd() { echo "sh -c 'cd $work/$1/zsync && zsync -q -i $work/$1/old -o game.pak $base/$1.zsync'"; }
restore() { echo "rm -rf $work/$1/valdris $work/$1/zsync; mkdir -p $work/$1/valdris $work/$1/zsync; cp $work/$1/old $work/$1/valdris/game.pak"; }

: > "$work/bytes.md"
for name in $cases; do
  # Bytes: one run each, the access log emptied before it.
  for contender in valdris zsync; do
    eval "$(restore "$name")"
    : > "$NGINX_ACCESS_LOG"
    eval "$("${contender}_cmd" "$name")"
    file=$work/$name/$contender/game.pak
    [ "$(md5sum < "$file" | cut -d' ' -f1)" = "$(cat "$work/$name/new.md5")" ] || { echo "$contender: $name is wrong" >&2; exit 1; }
    sleep 0.2  # nginx writes the last line when the connection ends
    awk -v who="$contender" -v set="$name" '{ s += $2 } END { printf "| %s | %s | %d |\n", set, who, s }' \
      "$NGINX_ACCESS_LOG" >> "$work/bytes.md"
  done
  hyperfine --runs "$runs" --export-markdown "$work/$name.md" --prepare "$(restore "$name")" \
    -n "valdris-get ($name)" "$(valdris_cmd "$name")" \
    -n "zsync ($name)" "$(zsync_cmd "$name")"
done
echo "| case | contender | bytes sent by nginx |"
echo "|---|---|---|"
cat "$work/bytes.md"
for name in $cases; do cat "$work/$name.md"; done
