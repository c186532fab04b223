#!/bin/sh
# Writes the gzipped manual page of a tool whose --help is manual-shaped.
# Usage: man-from-help.sh TOOL NAME VERSION DATE OUT.gz
set -e
"$1" --help | awk -v name="$2" -v version="$3" -v date="$4" -f "$(dirname "$0")/man-from-help.awk" | gzip -9n > "$5"
