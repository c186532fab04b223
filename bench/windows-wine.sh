#!/usr/bin/env bash
# valdris-get.exe under Wine beside the Linux build, on the same set served by nginx on loopback
# (10 x 25 MiB, each run into a new folder). A record of what Wine's WinINet and CNG give, not a
# target. Usage: bench/windows-wine.sh [RUNS]
source "$(dirname "$0")/lib.sh"
runs=${1:-3}
build_release
"$ROOT/scripts/build-windows" "$ROOT/build-windows-bench" >/dev/null
work=$(mktemp -d "$(bench_parent)/wine.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
wineserver -p
trap 'wineserver -k 2>/dev/null; "$ROOT/scripts/nginx-serve" stop "$work/nginx"; rm -rf "$work"' EXIT
wineboot -i >/dev/null 2>&1
make_files "$work/www/set" 10 $((25 * 1024 * 1024)) f
"$ROOT/build-release/tools/valdris-filelist" build "$work/www/set" --url "http://127.0.0.1:$BENCH_PORT/set/" \
  -o "$work/www/list.json" >/dev/null
"$ROOT/scripts/nginx-serve" start "$work/www" "$BENCH_PORT" "$work/nginx"
list=http://127.0.0.1:$BENCH_PORT/list.json
hyperfine --runs "$runs" --prepare "rm -rf $work/out $WINEPREFIX/drive_c/out" \
  -n "valdris-get (Linux)" "$ROOT/build-release/tools/valdris-get --quiet --filelist $list --folder $work/out" \
  -n "valdris-get.exe (Wine)" "wine $ROOT/build-windows-bench/tools/valdris-get.exe --quiet --filelist $list --folder C:\\\\out"
