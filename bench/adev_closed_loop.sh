#!/bin/sh
# The closed loop of the noise analysis: a two-hour still log at 819.2 samples per second,
# taken with burst reads on the virtual clock from the simulated sensor, analysed by
# `pemra-cli adev`, gives back the simulator's figures: N within 5%, B and K within 25%, for
# every gyro and accelerometer axis. Prints the figures, their errors and the times taken;
# exits 1 when a figure misses.
#   bench/adev_closed_loop.sh [SEED]       (from the top of the tree, after make build)
# PEMRA_CLI names another pemra-cli; PEMRA_NOISE adds --sim-noise settings (then the
# expected figures below no longer hold).
set -eu
cli=${PEMRA_CLI:-$(pwd)/build/pemra-cli}
seed=${1:-1}
dir=$(mktemp -d /tmp/pemra-adev-loop.XXXXXX)
trap 'rm -rf "$dir"' EXIT
samples=5898240   # two hours at 819.2 samples per second

/usr/bin/time -f '%e %U %S %M' -o "$dir/log.time" "$cli" --simulate --sim-motion still \
  --sim-clock virtual --sim-seed "$seed" ${PEMRA_NOISE:+--sim-noise "$PEMRA_NOISE"} log --burst \
  --samples "$samples" --channels XGYRO_OUT,YGYRO_OUT,ZGYRO_OUT,XACCL_OUT,YACCL_OUT,ZACCL_OUT \
  --time --dir "$dir" 2> "$dir/log.err"
/usr/bin/time -f '%e %U %S %M' -o "$dir/adev.time" "$cli" adev "$dir/DATALOG_1.csv" \
  --kalibr "$dir/imu.yaml" > "$dir/adev.out"

read -r lw lu ls lm < "$dir/log.time"
read -r aw au as am < "$dir/adev.time"
echo "log:  $samples rows, $(stat -c %s "$dir/DATALOG_1.csv") bytes, ${lw} s wall, $(echo "$lu $ls" | awk '{print $1 + $2}') s CPU, max RSS ${lm} KiB"
echo "adev: ${aw} s wall, $(echo "$au $as" | awk '{print $1 + $2}') s CPU, max RSS ${am} KiB"
head -1 "$dir/adev.out"

# Expected (the simulator's defaults): gyro N 1.2577882 deg/sqrt(h), B 90 deg/h,
# K 1133.8663 deg/h/sqrt(h); accelerometer N 0.10278908 m/s/sqrt(h), B 0.3 mg,
# K 133.43316 m/s/h/sqrt(h).
awk '
  function check(name, got, want, tolerance,   error) {
    if (got == "") { printf "  %-2s not determined (expected %g)  MISS\n", name, want; bad = 1; return }
    error = got / want - 1
    printf "  %-2s %-12g expected %-12g error %+6.1f%%  %s\n", name, got, want, 100 * error,
      (error < tolerance && error > -tolerance) ? "ok" : "MISS"
    if (!(error < tolerance && error > -tolerance)) bad = 1
  }
  # A figure line: its name padded to 28 characters, then the value or "not determined".
  function value(line,   parts) { split(substr(line, 30), parts, " "); return parts[1] == "not" ? "" : parts[1] }
  /^(X|Y|Z) (Gryo|Gyro|acc)$/ { column = $0; gyro = ($2 != "acc"); n = b = k = ""; next }
  /^N / && column != "" { n = value($0) }
  /^B / && column != "" { b = value($0) }
  /^K / && column != "" {
    k = value($0)
    print column
    check("N", n, gyro ? 1.2577882 : 0.10278908, 0.05)
    check("B", b, gyro ? 90 : 0.3, 0.25)
    check("K", k, gyro ? 1133.8663 : 133.43316, 0.25)
    column = ""
  }
  END { print (bad ? "closed loop: MISSED" : "closed loop: every figure within its bound"); exit bad }
' "$dir/adev.out"
