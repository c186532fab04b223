#!/usr/bin/env bash
# Runs one download contender into a new, uniquely named folder (so no run creates files right
# after deleting many). Usage: bench/run-into.sh PARENT KIND SET_DIR
#   KIND: valdris | curl | aria2
set -euo pipefail
parent=$1 kind=$2 set=$3
out=$(mktemp -d "$parent/out.XXXXXX")
case "$kind" in
  valdris) "$BENCH_VALDRIS_GET" --quiet --filelist "$(cat "$set/list.url")" --folder "$out" ;;
  curl) (cd "$out" && curl -s -K "$set/curl.cfg" && md5sum --quiet -c "$set/files.md5") ;;
  aria2) aria2c -q -j1 -x1 --file-allocation=none --auto-file-renaming=false -d "$out" -i "$set/aria2.txt" ;;
esac
