#!/bin/sh
# Peak memory (max RSS) and time of `pemra-cli --simulate log` writing one file of N samples
# of all eleven channels with flags, time and header, for each N given (default 1e5 1e6).
#   bench/datalog_memory.sh [N...]        (from the top of the tree, after make build)
set -eu
cli=${PEMRA_CLI:-$(pwd)/build/pemra-cli}
dir=$(mktemp -d /tmp/pemra-log-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
[ $# -gt 0 ] || set -- 100000 1000000
printf '%12s %12s %10s %10s %14s %12s\n' samples maxRSS_KiB wall_s cpu_s samples/s file_MiB
for n in "$@"; do
  /usr/bin/time -f '%M %e %U %S' -o "$dir/time" "$cli" --simulate log --dir "$dir" \
    --samples "$n" --time ${PEMRA_LOG_ARGS:-}
  read -r rss wall user sys < "$dir/time"
  size=$(stat -c %s "$dir/DATALOG_1.csv")
  awk -v n="$n" -v rss="$rss" -v w="$wall" -v u="$user" -v s="$sys" -v b="$size" 'BEGIN {
    printf "%12d %12d %10.2f %10.2f %14.0f %12.1f\n", n, rss, w, u + s, (w > 0 ? n / w : 0), b / 1048576 }'
  rm -f "$dir"/DATALOG_1.csv
done
