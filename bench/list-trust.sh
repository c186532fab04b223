#!/usr/bin/env bash
# The cost of a signed list at start-up: a 5,000-entry list served by nginx on loopback, fetched and
# parsed by the start-up's own function without a key and with one (which also fetches and checks
# list.json.sig). Usage: bench/list-trust.sh [ROUNDS]
source "$(dirname "$0")/lib.sh"
rounds=${1:-50}
build_release
tool=$ROOT/build-release/tools/valdris-filelist
new_workdir trust
mkdir -p "$work/www"
# 5,000 entries with names, sizes and digests of the usual shape.
awk 'BEGIN {
  printf "{\"Version\": \"2017.12.27.1\", \"URL\": \"http://127.0.0.1/game/\", \"TotalCount\": 5000, \"TotalSize\": %d, \"FileList\": [", 5000 * 16384
  for (i = 0; i < 5000; i++) printf "%s{\"Name\": \"Data/Pack%02d/file%05d.pak\", \"Size\": 16384, \"CheckSum\": \"%032X\"}", (i ? ", " : ""), i % 50, i, i * 2654435761
  printf "]}\n"
}' > "$work/www/list.json"
"$tool" keygen -o "$work/key.pem" >/dev/null
"$tool" sign "$work/www/list.json" --key "$work/key.pem" >/dev/null
"$ROOT/scripts/nginx-serve" start "$work/www" "$BENCH_PORT" "$work/nginx"
"$ROOT/build-release/bench/list_trust" "http://127.0.0.1:$BENCH_PORT/list.json" "$work/key.pem.pub" "$rounds"
