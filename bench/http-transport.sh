#!/usr/bin/env bash
# The HTTP transport against curl, side by side: one 1 GiB file, then 2,000 files of 16 KiB fetched
# one after another over one connection. Needs hyperfine. Usage: bench/http-transport.sh
source "$(dirname "$0")/lib.sh"
build_release
new_workdir http
make_files "$work/www/big" 1 $((1024 * 1024 * 1024)) big
make_files "$work/www/small" 2000 16384 s
"$ROOT/scripts/nginx-serve" start "$work/www" "$BENCH_PORT" "$work/nginx"
base=http://127.0.0.1:$BENCH_PORT
echo "$base/big/big0.bin" > "$work/big.list"
ls "$work/www/small" | sed "s|^|$base/small/|" > "$work/small.list"
ls "$work/www/small" | while read -r f; do printf 'url = "%s/small/%s"\noutput = "%s"\n' "$base" "$f" "$work/out/$f"; done > "$work/small.curl"
mkdir -p "$work/out"
fetch=$ROOT/build-release/bench/http_fetch

warm_memory $((1024 * 1024 * 1024))
hyperfine -N --warmup 1 --runs 7 --export-markdown "$work/big.md" \
  -n "curl -o (1 GiB)" "curl -s -o $work/out/big.bin $base/big/big0.bin" \
  -n "CHttpClient (1 GiB)" "$fetch $work/out $work/big.list"
hyperfine -N --warmup 1 --runs 10 --export-markdown "$work/small.md" \
  -n "curl, one process (2000 x 16 KiB)" "curl -s -K $work/small.curl" \
  -n "CHttpClient (2000 x 16 KiB)" "$fetch $work/out $work/small.list"
cat "$work/big.md" "$work/small.md"
