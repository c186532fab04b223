#!/usr/bin/env bash
# Interrupts valdris-get again and again, as a user or a crash would, then lets a final run finish,
# and checks that nothing was lost on the way: every file verified, no stray files, and how many
# bytes were fetched against the least a perfect resume would need.
#   bench/soak.sh [INTERRUPTIONS] [FILES] [FILE_SIZE_BYTES] [RATE]
# Half the interruptions are SIGKILL (no chance to clean up), half SIGTERM (a clean stop). nginx caps
# each connection at RATE (default 4m per second) so that an interruption lands mid-file.
source "$(dirname "$0")/lib.sh"
count=${1:-50}
files=${2:-20}
size=${3:-$((4 * 1024 * 1024))}
rate=${4:-4m}
build_release
valdris_get=$ROOT/build-release/tools/valdris-get
filelist_tool=$ROOT/build-release/tools/valdris-filelist
new_workdir soak
base=http://127.0.0.1:$BENCH_PORT

make_files "$work/www/game/Data" "$files" "$size" f
"$filelist_tool" build "$work/www/game" --url "$base/game/" -o "$work/www/filelist.json" >/dev/null
NGINX_LIMIT_RATE=$rate NGINX_ACCESS_LOG=$work/sent.log "$ROOT/scripts/nginx-serve" start "$work/www" "$BENCH_PORT" "$work/nginx"
export XDG_STATE_HOME=$work/state
install=$work/install
total=$((files * size))

interrupted=0
for i in $(seq "$count"); do
  "$valdris_get" --quiet --filelist "$base/filelist.json" --folder "$install" 2>/dev/null &
  pid=$!
  # Somewhere between 0.1 and 0.9 seconds into the run.
  sleep "0.$((RANDOM % 9 + 1))"
  if kill -0 "$pid" 2>/dev/null; then
    if ((i % 2)); then kill -KILL "$pid"; else kill -TERM "$pid"; fi
    interrupted=$((interrupted + 1))
  fi
  wait "$pid" 2>/dev/null || true
done
"$valdris_get" --quiet --filelist "$base/filelist.json" --folder "$install" && status=0 || status=$?


verified=0
(cd "$work/www/game" && find . -type f | sort) > "$work/published"
while read -r f; do cmp -s "$work/www/game/$f" "$install/$f" && verified=$((verified + 1)); done < "$work/published"
junk=$( (cd "$install" && find . -type f | sort) | comm -13 "$work/published" - | wc -l)
# What the server sent of the game's files, against the least: every byte once.
"$ROOT/scripts/nginx-serve" stop "$work/nginx"
sleep 0.2
sent=$(awk '$1 ~ /^\/game\// {sum += $2} END {print sum + 0}' "$work/sent.log")
log=$(find "$work/state/Mervo_Downloader" -type f | head -1)
relays=$(iconv -f UTF-16LE -t UTF-8 "$log" | grep -c "file download relay mode" || true)
refetches=$(iconv -f UTF-16LE -t UTF-8 "$log" | grep -cE "re-download" || true)

echo "interruptions: $interrupted of $count runs (half SIGKILL, half SIGTERM); final run exit $status"
echo "verified: $verified of $files files; junk files: $junk"
echo "resumed transfers: $relays; files fetched again from the start: $refetches"
echo "bytes sent: $sent; least possible: $total; re-fetched: $((sent - total)) ($(awk -v s="$sent" -v t="$total" 'BEGIN {printf "%.1f", (s - t) * 100 / t}')%)"
[ "$status" -eq 0 ] && [ "$verified" -eq "$files" ] && [ "$junk" -eq 0 ]
