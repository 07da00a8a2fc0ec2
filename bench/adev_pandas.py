#!/usr/bin/env python3
"""The whole adev job in pandas + NumPy, for bench_adev's comparison: read a log the program
wrote (its title line "Sample #,Time (sec),X Gryo,..." then the rows) with pandas.read_csv,
then for each chosen column the overlapping Allan deviation on the octave grid (the formula
of adev_numpy.py).
  adev_pandas.py FILE COLUMN...
Prints "pandas_cpu_s S" (one run: reading dominates), or why it could not run."""
import os
import sys
import time

try:
    import pandas as pd
except ImportError as error:
    print("pandas is not installed (Debian: python3-pandas): %s" % error)
    sys.exit(0)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from adev_numpy import adev  # noqa: E402  (the same formula as the NumPy comparison)


def main():
    start = time.process_time()
    frame = pd.read_csv(sys.argv[1], usecols=sys.argv[2:], dtype="float64")
    last = 0.0
    for column in sys.argv[2:]:
        last = adev(frame[column].to_numpy())[-1]
    print("pandas_cpu_s %.6f last_deviation %.12g" % (time.process_time() - start, last))


if __name__ == "__main__":
    main()
