#!/usr/bin/env bash
# The whole evaluation of the simulated sensor lying still for one hour (819.2 samples/s, the
# virtual clock), and how long after the log's end the report was complete: the time from
# the log file's completion to the last output's (report.pdf).
#   bench/evaluate_one_hour.sh [PEMRA_CLI] [DURATION_SECONDS]
set -euo pipefail
cli=${1:-build-bench/pemra-cli}
duration=${2:-3600}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
start=$(date +%s.%N)
/usr/bin/time -f "%e s wall, %U s user, %S s system, %M KiB peak" \
  "$cli" --simulate --sim-motion still --sim-clock virtual evaluate --duration "$duration" --out "$out" \
  > "$out/summary.txt" 2> "$out/stderr.txt" || true
end=$(date +%s.%N)
tail -1 "$out/stderr.txt"
log=$(stat -c %.Y "$out/DATALOG_1.csv")
pdf=$(stat -c %.Y "$out/report.pdf")
echo "evaluation of ${duration} s: $(echo "$end - $start" | bc) s in all; report complete $(echo "$pdf - $log" | bc) s after the log"
