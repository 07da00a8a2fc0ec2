#!/usr/bin/env python3
"""Overlapping Allan deviation on the octave grid with NumPy, the formula bench_adev times:
cumulative sums of the samples less their mean, then for m = 1, 2, 4, ... up to N/2
  sigma^2 = sum((x[2m:] - 2 x[m:-m] + x[:-2m])^2) / (2 m^2 (N + 1 - 2m)).
  adev_numpy.py FILE RATE     FILE: the samples as raw little-endian float64
Prints "numpy_cpu_s S last_deviation D" (best of three runs), or why it could not run."""
import sys
import time

try:
    import numpy as np
except ImportError:
    print("NumPy is not installed (Debian: python3-numpy)")
    sys.exit(0)


def adev(y):
    x = np.concatenate(([0.0], np.cumsum(y - y.mean())))
    n = len(y)
    out = []
    m = 1
    while m <= n // 2:
        d = x[2 * m:] - 2 * x[m:-m] + x[:-2 * m]
        out.append(np.sqrt(np.dot(d, d) / (2.0 * m * m * (n + 1 - 2 * m))))
        m *= 2
    return out


def main():
    y = np.fromfile(sys.argv[1], dtype="<f8")
    best = None
    for _ in range(3):
        start = time.process_time()
        result = adev(y)
        spent = time.process_time() - start
        best = spent if best is None else min(best, spent)
    print("numpy_cpu_s %.6f last_deviation %.12g" % (best, result[-1]))


if __name__ == "__main__":
    main()
