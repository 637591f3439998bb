#!/usr/bin/env python3
"""How well the number of clusters is found: kelbow-plot's first candidate
against kelbow-choose's recommendation, on tables with planted clusters.

The tables are drawn by kelbow-make-table from seeded parameter sets: K from 1
(no structure: every column drawn on its own) to 15, equal and very unequal
cluster sizes, nested groups, columns without structure, noise from easy to
hard, 5 to 60 attributes, 2 to 30 values, 300 to 200,000 rows (both roads).
For each table it prints the planted K, the K each method gives and the
adjusted Rand index of the labels at that K against the planted clusters, then
per set the exact and within-one hit rates, the structureless tables answered
with K = 1, and the mean adjusted Rand index (with the mean at the planted K,
the ceiling of the labels as they are).

  bench/choose_quality.py [--bin build/bin] [--work DIR] [--sets NAMES] [--limit N]

Sets: tune (seed 1) and tune-hard (seed 3), the tables the rule was set on;
held (seed 2) and held-hard (seed 4), held back until the rule was fixed.
"""
import argparse
import json
import os
import random
import subprocess
import sys

SETS = {"tune": (1, 96, False), "tune-hard": (3, 96, True),
        "held": (2, 48, False), "held-hard": (4, 48, True)}


def tables(seed, count, hard):
    """The parameters of the tables of one set; every eighth has no structure."""
    rng = random.Random(seed)
    out = []
    for i in range(count):
        kind = rng.choice(["equal", "equal", "unequal", "unequal", "nested", "noisecols"]) \
            if i % 8 else "none"
        if kind == "none":
            k = 1
        elif kind == "nested":
            k = rng.choice([3, 4, 5, 6, 6, 8, 9, 10, 12])
        else:
            k = rng.choice([2, 2, 3, 3, 4, 4, 5, 6, 7, 8, 10, 12, 15])
        rows = int(round(10 ** rng.uniform(2.48, 5.3)))
        attrs = rng.choice([rng.randint(5, 15), rng.randint(5, 60)]) if hard else rng.randint(5, 60)
        domain = rng.choice([2, 2, 3, 3, 4, 5, 6, 8, 10, 20, 30] if hard
                            else [2, 3, 4, 5, 6, 8, 10, 15, 20, 30])
        noise = round(rng.uniform(0.2, 0.8) if hard else rng.uniform(0.05, 0.55), 2)
        opts = []
        if rng.random() < 0.3 and domain < 30:
            opts += ["--domain-max", str(min(30, domain + rng.randint(2, 20)))]
        if kind == "unequal":
            opts += ["--imbalance", str(rng.choice([2, 3, 5, 8, 10]))]
        if kind == "nested":
            groups = min(rng.choice([2, 2, 3]), k - 1)
            opts += ["--nested", str(groups), "--nest-share", str(round(rng.uniform(0.2, 0.5), 2))]
        if kind == "noisecols":
            opts += ["--noise-columns", str(max(1, int(attrs * rng.uniform(0.2, 0.6))))]
        if kind == "none" and rng.random() < 0.5:
            opts += ["--noise-columns", str(attrs)]
        name = "s%d_%03d" % (seed, i)
        out.append(dict(name=name, k=k, kind=kind, rows=rows,
                        args=opts + ["--labels", name, str(k), str(rows), str(attrs), str(domain),
                                     str(noise), str(seed * 1000 + i)]))
    return out


def run(cmd, cwd, capture=True):
    r = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True)
    if r.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), r.stderr))
    return r.stdout


def ari(a, b):
    """Adjusted Rand index of two labelings of the same rows."""
    def pairs(x):
        return x * (x - 1) / 2
    table, ra, rb = {}, {}, {}
    for x, y in zip(a, b):
        table[(x, y)] = table.get((x, y), 0) + 1
        ra[x] = ra.get(x, 0) + 1
        rb[y] = rb.get(y, 0) + 1
    index = sum(pairs(v) for v in table.values())
    sa, sb = sum(pairs(v) for v in ra.values()), sum(pairs(v) for v in rb.values())
    expected = sa * sb / pairs(len(a)) if len(a) > 1 else 0
    maximum = (sa + sb) / 2
    return 1.0 if maximum == expected else (index - expected) / (maximum - expected)


def labels_at(bin_dir, work, name, k, rows):
    if k <= 1:
        return [1] * rows
    out = run([os.path.join(bin_dir, "kelbow-labels"), "-d", name + ".data", "-n", name + ".desc",
               "-k", str(k), "-o", "-"], work)
    return out.split()


def first_candidate(line):
    """K of kelbow-plot's first candidate; 1 for "candidates: none"."""
    words = line.replace(";", " ").split()
    return int(words[1]) if len(words) > 1 and words[1].isdigit() else 1


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--bin", default="build/bin")
    p.add_argument("--work", default="build/choose-quality")
    p.add_argument("--sets", default="held,held-hard")
    p.add_argument("--limit", type=int, default=0, help="at most N tables a set")
    p.add_argument("--choose-args", default="", help="extra options for kelbow-choose")
    a = p.parse_args()
    bin_dir = os.path.abspath(a.bin)
    os.makedirs(a.work, exist_ok=True)
    total = []
    for set_name in a.sets.split(","):
        seed, count, hard = SETS[set_name]
        rows_out = []
        for t in tables(seed, count, hard)[: a.limit or None]:
            name = t["name"]
            if not os.path.exists(os.path.join(a.work, name + ".labels")):
                run([os.path.join(bin_dir, "kelbow-make-table")] + t["args"], a.work, False)
            with open(os.path.join(a.work, name + ".labels")) as f:
                truth = f.read().split()
            if os.path.exists(os.path.join(a.work, name + ".data.kelbow")):
                os.remove(os.path.join(a.work, name + ".data.kelbow"))
            run([os.path.join(bin_dir, "kelbow"), "-d", name + ".data", "-n", name + ".desc"],
                a.work, False)
            plot = run([os.path.join(bin_dir, "kelbow-plot"), "-o", name + ".svg",
                        name + ".data.kelbow"], a.work)
            old = first_candidate(plot)
            answer = json.loads(run([os.path.join(bin_dir, "kelbow-choose"), "-d", name + ".data",
                                     "-n", name + ".desc", "-f", "json", "--no-chart", "-q",
                                     "-o", name + ".chosen"] + a.choose_args.split(), a.work))
            new = answer["k"]
            with open(os.path.join(a.work, name + ".chosen")) as f:
                new_labels = f.read().split()
            r = dict(t, old=old, new=new,
                     ari_old=ari(labels_at(bin_dir, a.work, name, old, len(truth)), truth),
                     ari_new=ari(new_labels, truth),
                     ari_planted=ari(labels_at(bin_dir, a.work, name, t["k"], len(truth)), truth),
                     candidates=[c["k"] for c in answer["candidates"]])
            print("%-10s %-7s %-9s rows %6d  planted %2d  first candidate %2d (ARI %.2f)  "
                  "recommended %2d (ARI %.2f)  planted K ARI %.2f  candidates %s"
                  % (set_name, name, t["kind"], t["rows"], t["k"], old, r["ari_old"], new,
                     r["ari_new"], r["ari_planted"], r["candidates"]), flush=True)
            rows_out.append(r)
        total += rows_out
        summarize(set_name, rows_out)
    if len(a.sets.split(",")) > 1:
        summarize("all", total)


def summarize(name, rows):
    n = len(rows)
    if n == 0:
        return
    none = [r for r in rows if r["k"] == 1]
    for method in ("old", "new"):
        exact = sum(r[method] == r["k"] for r in rows)
        near = sum(abs(r[method] - r["k"]) <= 1 for r in rows)
        flat = sum(r[method] == 1 for r in none)
        mean = sum(r["ari_" + method] for r in rows) / n
        label = "first candidate" if method == "old" else "recommendation "
        print("%-10s %s: planted K on %d of %d (within one: %d), no structure on %d of %d, "
              "mean ARI %.3f" % (name, label, exact, n, near, flat, len(none), mean))
    print("%-10s mean ARI at the planted K: %.3f" % (name, sum(r["ari_planted"] for r in rows) / n))


if __name__ == "__main__":
    main()
