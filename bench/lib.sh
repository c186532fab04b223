# Shared helpers of the benchmark scripts (sourced).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH_PORT=${BENCH_PORT:-18780}

# A parent folder for benchmark data; every run gets a new, uniquely named folder below it, since
# creating many files right after deleting many is slow on these disks.
bench_parent() {
  local parent=${BENCH_DIR:-/tmp/valdris-bench}
  mkdir -p "$parent"
  chattr +T "$parent" 2>/dev/null || true
  echo "$parent"
}

build_release() {
  cmake -S "$ROOT" -B "$ROOT/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVALDRIS_BUILD_TESTS=OFF >/dev/null
  cmake --build "$ROOT/build-release" >/dev/null
}

# make_files DIR COUNT SIZE_BYTES PREFIX: COUNT files of random bytes in DIR.
make_files() {
  local dir=$1 count=$2 size=$3 prefix=$4
  mkdir -p "$dir"
  if [ "$count" -eq 1 ]; then
    head -c "$size" /dev/urandom > "$dir/${prefix}0.bin"
  else
    head -c $((count * size)) /dev/urandom | split -a 5 -d -b "$size" - "$dir/$prefix"
    for f in "$dir/$prefix"*; do mv "$f" "$f.bin"; done
  fi
}

# Writes and deletes a scratch file of the given size, so freed memory is warm for every contender.
warm_memory() {
  local scratch
  scratch=$(bench_parent)/scratch.$$
  head -c "$1" /dev/zero > "$scratch"
  rm -f "$scratch"
}

# new_workdir NAME: makes $work, a new folder below the benchmark parent, and removes it (stopping the
# nginx served from it) when the script ends.
new_workdir() {
  work=$(mktemp -d "$(bench_parent)/$1.XXXXXX")
  trap '"$ROOT/scripts/nginx-serve" stop "$work/nginx"; rm -rf "$work"' EXIT
}
