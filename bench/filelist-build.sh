#!/usr/bin/env bash
# valdris-filelist build against md5sum over the same 2,000 files (16 KiB to 1 MiB), side by side.
# Needs hyperfine. Usage: bench/filelist-build.sh [RUNS]
source "$(dirname "$0")/lib.sh"
runs=${1:-10}
build_release
work=$(mktemp -d "$(bench_parent)/filelist.XXXXXX")
trap 'rm -rf "$work"' EXIT
make_files "$work/game/a" 1000 16384 s
make_files "$work/game/b" 1000 $((512 * 1024)) m
tool=$ROOT/build-release/tools/valdris-filelist
hyperfine --warmup 2 --runs "$runs" --export-markdown "$work/build.md" \
  -n "valdris-filelist build (2000 files, 516 MiB)" "$tool build $work/game --url http://h/ -o $work/list.json" \
  -n "md5sum of the same files" "cd $work/game && find . -type f -print0 | sort -z | xargs -0 md5sum >/dev/null"
cat "$work/build.md"
