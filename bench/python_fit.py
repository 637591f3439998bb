#!/usr/bin/env python3
"""The Python module's fit on a large DataFrame of string columns: how long
the hand-over from pandas takes (every column factorized into codes and the
texts of its distinct values, then typed and coded as kelbow-csv codes the
frame's CSV file) against pandas' own factorizing and against the clustering,
and the peak memory against the frame's own. The clustering is also timed as
the tool runs it (kelbow on the same table), for comparison.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_fit.py [ROWS] [COLUMNS] [BIN]

Defaults: 1000000 rows, 20 columns, build/bin. Prints one line per figure.
"""

import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np
import pandas as pd

import kelbow
from kelbow import _kelbow


def peak_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def main():
    rows = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    columns = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    bin_dir = os.path.abspath(sys.argv[3] if len(sys.argv) > 3 else "build/bin")

    # Five planted groups; each column holds the group's own value 70% of the
    # time and one of 8 values otherwise.
    rng = np.random.default_rng(1)
    group = rng.integers(0, 5, rows)
    words = np.array([f"value-{v}" for v in range(8)], dtype=object)
    data = {}
    for c in range(columns):
        own = (group + c) % 8
        other = rng.integers(0, 8, rows)
        data[f"col{c + 1}"] = words[np.where(rng.random(rows) < 0.7, own, other)]
    frame = pd.DataFrame(data)
    del data, group
    frame_mib = frame.memory_usage(deep=True).sum() / 2**20
    before = peak_mib()
    print(f"frame: {rows} rows x {columns} string columns, {frame_mib:.0f} MiB (deep); "
          f"process peak before fit {before:.0f} MiB")

    # What pandas itself needs to hand over codes: every column factorized.
    t = time.perf_counter()
    for column in frame.columns:
        pd.factorize(frame[column])
    print(f"pandas alone, every column factorized into codes: {time.perf_counter() - t:.2f} s")

    # The hand-over: the module's Python side (factorize, the texts of the
    # distinct values), then the library's typing and coding.
    t0 = time.perf_counter()
    names, codes, texts = kelbow._frame_columns(frame)
    t1 = time.perf_counter()
    table, _ = _kelbow.encode_columns(names, codes, texts, [], "DataFrame")
    t2 = time.perf_counter()
    del codes, texts
    print(f"hand-over: {t2 - t0:.2f} s (factorize and texts in Python {t1 - t0:.2f} s, "
          f"typing and coding in C++ {t2 - t1:.2f} s)")
    print(f"process peak after the hand-over {peak_mib():.0f} MiB "
          f"({peak_mib() - before:+.0f} MiB over the peak before)")
    fitted = _kelbow.fit(table, 0, 2, 0, 1, 1, 50000, False, 20)
    t3 = time.perf_counter()
    print(f"fit (one clustering + 2 reference tables of 50000 rows): {t3 - t2:.2f} s; "
          f"k = {fitted.k}")
    del fitted
    t4 = time.perf_counter()
    estimator = kelbow.KElbow(references=2, orders=0).fit(frame)
    t5 = time.perf_counter()
    print(f"KElbow(references=2, orders=0).fit(frame), all of it: {t5 - t4:.2f} s; "
          f"k = {estimator.k_}")
    print(f"process peak after fit {peak_mib():.0f} MiB ({peak_mib() - before:+.0f} MiB "
          "over the peak before)")

    # The tool on the same table, for the clustering's own time.
    kelbow_tool = os.path.join(bin_dir, "kelbow")
    if os.path.exists(kelbow_tool):
        scratch = tempfile.mkdtemp(prefix="kelbow-bench-")
        try:
            codes = table.codes()
            np.savetxt(os.path.join(scratch, "t.data"), codes, fmt="%d")
            with open(os.path.join(scratch, "t.desc"), "w") as f:
                f.write(f"{rows} {columns}\n" + "\n".join(str(len(v)) for v in table.values) + "\n")
            del codes
            t3 = time.perf_counter()
            subprocess.run([kelbow_tool, "-d", "t.data", "-n", "t.desc"], cwd=scratch, check=True,
                           stdout=subprocess.DEVNULL)
            t4 = time.perf_counter()
            print(f"kelbow on the same table (one clustering, from its file): {t4 - t3:.2f} s")
        finally:
            shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
