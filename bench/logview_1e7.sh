#!/bin/sh
# The log viewer benchmark on a log of ROWS rows (default 1e7) of eleven columns, about
# 1.2 GB: written to the temporary folder by the benchmark program on its first run and
# kept for later runs. Run from the top of the tree after `make bench`; prints the machine's
# load and the whole run's wall time and max RSS beside the benchmark's own figures.
#   bench/logview_1e7.sh [ROWS]
set -eu
rows=${1:-10000000}
uptime
PEMRA_LOGVIEW_ROWS=$rows /usr/bin/time -f 'whole run: %e s wall, max RSS %M KiB' \
  build-bench/bench_gui_logview --benchmark_counters_tabular=true
