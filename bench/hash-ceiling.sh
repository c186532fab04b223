#!/usr/bin/env bash
# Large files against their ceiling: valdris-get bringing in 1 x 1 GiB, 40 x 25 MiB and 10 x 25 MiB
# from nginx on loopback, side by side with `openssl md5` over the same files (hot cache). On two
# cores the transfer can hide entirely behind the hash, so the hash alone is the mark to meet.
# Before every run, of either contender, the old output goes and a scratch file twice the size of
# the set is written and deleted: on a virtual machine that hands freed memory back to its host, the
# page cache for the new files would otherwise cost a host fault per page (about 1.8 s per GiB
# measured here with dd), which has nothing to do with the program.
# Needs hyperfine, openssl. Usage: bench/hash-ceiling.sh [RUNS]
source "$(dirname "$0")/lib.sh"
runs=${1:-5}
build_release
get=$ROOT/build-release/tools/valdris-get
new_workdir ceiling
base=http://127.0.0.1:$BENCH_PORT
declare -A set_bytes
prepare_set() {  # NAME COUNT SIZE
  make_files "$work/www/$1" "$2" "$3" f
  set_bytes[$1]=$(($2 * $3))
  "$ROOT/build-release/tools/valdris-filelist" build "$work/www/$1" --url "$base/$1/" -o "$work/www/$1.json" >/dev/null
}
prepare_set big 1 $((1024 * 1024 * 1024))
prepare_set medium 40 $((25 * 1024 * 1024))
prepare_set ten 10 $((25 * 1024 * 1024))
"$ROOT/scripts/nginx-serve" start "$work/www" "$BENCH_PORT" "$work/nginx"
mkdir -p "$work/out"
for name in ${SETS:-big medium ten}; do
  cat "$work/www/$name"/* > /dev/null  # hot cache for both
  hyperfine --warmup 1 --runs "$runs" --export-markdown "$work/$name.md" --export-json "$work/$name.json" \
    --prepare "rm -rf $work/out/*; head -c $((set_bytes[$name] * 2)) /dev/zero > $work/scratch; rm -f $work/scratch" \
    -n "valdris-get ($name)" "$get --quiet --filelist $base/$name.json --folder \$(mktemp -d $work/out/o.XXXXXX)" \
    -n "openssl md5 ($name)" "openssl md5 $work/www/$name/* >/dev/null"
done
for name in ${SETS:-big medium ten}; do cat "$work/$name.md"; done
# Medians, since a shared machine's outliers pull means about.
echo "| set | valdris-get median | openssl md5 median | ratio |"
echo "|---|---|---|---|"
for name in ${SETS:-big medium ten}; do
  grep -o '"median": *[0-9.e-]*' "$work/$name.json" | awk -v set="$name" -F': *' \
    '{m[NR] = $2} END {printf "| %s | %.3f s | %.3f s | %.2f |\n", set, m[1], m[2], m[1] / m[2]}'
done
