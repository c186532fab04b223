#!/usr/bin/env bash
# The whole downloader against curl + md5sum and aria2c with its MD5 checks, side by side, on three
# sets served by nginx on loopback: 1 x 1 GiB, 40 x 25 MiB, 2000 x 16 KiB. Then verifying a complete
# folder against openssl md5, and the resident memory during a 1 GiB transfer.
# Needs hyperfine, curl, aria2c, openssl. Usage: bench/engine.sh [RUNS]
source "$(dirname "$0")/lib.sh"
runs=${1:-5}
build_release
export BENCH_VALDRIS_GET=$ROOT/build-release/tools/valdris-get
filelist_tool=$ROOT/build-release/tools/valdris-filelist
new_workdir engine
base=http://127.0.0.1:$BENCH_PORT

prepare_set() {  # NAME COUNT SIZE
  local name=$1 set=$work/sets/$1
  make_files "$work/www/$name" "$2" "$3" f
  mkdir -p "$set"
  "$filelist_tool" build "$work/www/$name" --url "$base/$name/" -o "$work/www/$name.json" >/dev/null
  echo "$base/$name.json" > "$set/list.url"
  (cd "$work/www/$name" && ls | sort > "$set/names")
  while read -r f; do printf 'url = "%s/%s/%s"\noutput = "%s"\n' "$base" "$name" "$f" "$f"; done < "$set/names" > "$set/curl.cfg"
  (cd "$work/www/$name" && xargs md5sum < "$set/names") > "$set/files.md5"
  while read -r sum f; do printf '%s/%s/%s\n  out=%s\n  checksum=md5=%s\n' "$base" "$name" "$f" "$f" "$sum"; done \
    < "$set/files.md5" > "$set/aria2.txt"
}
prepare_set big 1 $((1024 * 1024 * 1024))
prepare_set medium 40 $((25 * 1024 * 1024))
prepare_set small 2000 16384
"$ROOT/scripts/nginx-serve" start "$work/www" "$BENCH_PORT" "$work/nginx"

mkdir -p "$work/out"
for name in ${SETS:-big medium small}; do
  set=$work/sets/$name
  warm_memory $((1024 * 1024 * 1024))
  hyperfine --warmup 1 --runs "$runs" --export-markdown "$work/$name.md" \
    --prepare "rm -rf $work/out/out.*; sync" \
    -n "valdris-get ($name)" "$ROOT/bench/run-into.sh $work/out valdris $set" \
    -n "curl + md5sum -c ($name)" "$ROOT/bench/run-into.sh $work/out curl $set" \
    -n "aria2c -j1 with MD5 ($name)" "$ROOT/bench/run-into.sh $work/out aria2 $set"
done

# Verifying a complete folder: no network traffic, one MD5 pass per file.
complete=$work/complete
"$BENCH_VALDRIS_GET" --quiet --filelist "$base/medium.json" --folder "$complete"
hyperfine --warmup 1 --runs "$runs" --export-markdown "$work/verify.md" \
  -n "valdris-get verifying 40 x 25 MiB" "$BENCH_VALDRIS_GET --quiet --filelist $base/medium.json --folder $complete" \
  -n "openssl md5 of the same files" "cd $complete && openssl md5 \$(cat $work/sets/medium/names) >/dev/null"

# Resident memory during a 1 GiB transfer, sampled every 100 ms.
out=$(mktemp -d "$work/out/rss.XXXXXX")
"$BENCH_VALDRIS_GET" --quiet --filelist "$base/big.json" --folder "$out" &
pid=$!
samples=()
while kill -0 "$pid" 2>/dev/null; do
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
  [ -n "$rss" ] && samples+=("$rss")
  sleep 0.1
done
wait "$pid"
printf '%s\n' "${samples[@]}" | sort -n | awk 'NR==1{min=$1} {max=$1; n++} END {printf "RSS during 1 GiB: %d samples, min %d KiB, max %d KiB\n", n, min, max}' > "$work/rss.txt"

for name in ${SETS:-big medium small} verify; do cat "$work/$name.md"; done
cat "$work"/rss.txt
