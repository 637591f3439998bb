#!/usr/bin/env bash
# The figures of docs/PERFORMANCE.md's large-table, small-table and threads sections, measured
# on one build: kelbow on one thread (KELBOW_THREADS=1) and on every processor
# (the default), runs taken in turn (one thread, then all, RUNS pairs). Prints
# per table and side the median wall time, processor time (user + system) and
# peak resident memory with their spread (min-max), and the medians of the
# pairs' ratios one thread / all. Tables are generated into a scratch directory
# and deleted after use; prints figures and asserts nothing about them.
#
#   bench/threads.sh                  # 5 pairs; after cmake -S . -B build && cmake --build build
#   RUNS=9 bench/threads.sh
#   BENCH_BIG=1 bench/threads.sh      # also 10,000,000 x 20 (3 pairs)
#   BENCH_HUGE=1 bench/threads.sh     # also 100,000,000 x 20 (one pair; about 4 GB of scratch space)
#   BENCH_ONLY="s30 s60" bench/threads.sh   # only the tables of these labels
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
exe="${KELBOW_EXE:-$root/build/bin/kelbow}"
runs="${RUNS:-5}"
only="${BENCH_ONLY:-}"
shared="$root/../shared/data"
bin="$(cd "$(dirname "$exe")" && pwd)"
make_table="${KELBOW_MAKE_TABLE:-$bin/kelbow-make-table}"
for tool in "$exe" "$make_table"; do
  [[ -x "$tool" ]] || { echo "no $(basename "$tool") at $tool: build first (cmake -S . -B build && cmake --build build)" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "needs GNU time at /usr/bin/time (apt-get install time)" >&2; exit 1; }

work="$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/threads-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# once THREADS DIR DATA DESC: one run; appends "wall cpu peakKB" to DIR/THREADS.txt.
once() {
  local threads=$1 dir=$2 data=$3 desc=$4 status=0
  rm -f "$dir/$data.kelbow"
  if [[ $threads == all ]]; then
    (cd "$dir" && env -u KELBOW_THREADS /usr/bin/time -f "%e %U %S %M" -o time.txt "$exe" -d "$data" -n "$desc" >/dev/null 2>err.txt) || status=$?
  else
    (cd "$dir" && KELBOW_THREADS=$threads /usr/bin/time -f "%e %U %S %M" -o time.txt "$exe" -d "$data" -n "$desc" >/dev/null 2>err.txt) || status=$?
  fi
  if [[ $status -ne 0 ]]; then
    echo "  ended with status $status: $(head -c 200 "$dir/err.txt")" >&2
    return 1
  fi
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$dir/time.txt" >>"$dir/$threads.txt"
  cp "$dir/$data.kelbow" "$dir/$threads.kelbow"
}

# measure LABEL PAIRS DIR DATA DESC: PAIRS pairs in turn, then the summary lines.
measure() {
  local label=$1 pairs=$2 dir=$3 data=$4 desc=$5
  rm -f "$dir/1.txt" "$dir/all.txt"
  for ((i = 0; i < pairs; ++i)); do
    once 1 "$dir" "$data" "$desc" || return 0
    once all "$dir" "$data" "$desc" || return 0
  done
  cmp -s "$dir/1.kelbow" "$dir/all.kelbow" || echo "  $label: the result files DIFFER between the thread counts"
  paste "$dir/1.txt" "$dir/all.txt" | awk -v label="$label" '
    function med(a, n,   i, j, t) {
      for (i = 2; i <= n; ++i) for (j = i; j > 1 && a[j - 1] > a[j]; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
      return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    function lo(a, n,   i, m) { m = a[1]; for (i = 2; i <= n; ++i) if (a[i] < m) m = a[i]; return m }
    function hi(a, n,   i, m) { m = a[1]; for (i = 2; i <= n; ++i) if (a[i] > m) m = a[i]; return m }
    { ++n; w1[n] = $1; c1[n] = $2; p1[n] = $3; wa[n] = $4; ca[n] = $5; pa[n] = $6
      rw[n] = $4 > 0 ? $1 / $4 : 0; rc[n] = $5 > 0 ? $2 / $5 : 0 }
    END {
      printf "%s (%d pairs)\n", label, n
      printf "  1 thread   wall %7.2f s [%.2f-%.2f]  CPU %7.2f s [%.2f-%.2f]  peak %6.1f MB\n",
        med(w1, n), lo(w1, n), hi(w1, n), med(c1, n), lo(c1, n), hi(c1, n), hi(p1, n) / 1024
      printf "  all        wall %7.2f s [%.2f-%.2f]  CPU %7.2f s [%.2f-%.2f]  peak %6.1f MB\n",
        med(wa, n), lo(wa, n), hi(wa, n), med(ca, n), lo(ca, n), hi(ca, n), hi(pa, n) / 1024
      printf "  1 / all    wall %.2fx [%.2f-%.2f]  CPU %.2fx [%.2f-%.2f]\n",
        med(rw, n), lo(rw, n), hi(rw, n), med(rc, n), lo(rc, n), hi(rc, n)
    }'
}

wanted() { [[ -z "$only" || " $only " == *" $1 "* ]]; }

# generated LABEL PAIRS ARGS...: a table of kelbow-make-table ARGS (named t), measured.
generated() {
  local label=$1 pairs=$2
  shift 2
  wanted "$label" || return 0
  local dir="$work/$label"
  mkdir -p "$dir"
  (cd "$dir" && "$make_table" t "$@" >/dev/null)
  measure "$label: kelbow-make-table t $*" "$pairs" "$dir" t.data t.desc
  rm -rf "$dir"
}

# codes LABEL ROWS DOMAIN: one attribute of ROWS random codes below DOMAIN.
codes() {
  local label=$1 rows=$2 domain=$3 dir="$work/$1"
  wanted "$label" || return 0
  mkdir -p "$dir"
  printf '%d 1\n%d\n' "$rows" "$domain" >"$dir/t.desc"
  awk -v n="$rows" -v d="$domain" 'BEGIN { srand(1); for (i = 0; i < n; ++i) print int(rand() * d) }' >"$dir/t.data"
  measure "$label: $rows rows x 1 attribute of $domain values, random codes" "$runs" "$dir" t.data t.desc
  rm -rf "$dir"
}

echo "kelbow: $exe; $(nproc) processors; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
if wanted connect-4 && [[ -f "$shared/connect-4/connect-4.data" ]]; then
  mkdir "$work/c4"
  ln -s "$shared/connect-4/connect-4.data" "$work/c4/connect-4.data"
  cp "$shared/connect-4/connect-4.desc" "$work/c4/"
  measure "connect-4 (67,557 x 42)" "$runs" "$work/c4" connect-4.data connect-4.desc
elif wanted connect-4; then
  echo "connect-4: skipped, $shared/connect-4 not found (the shared data sets sit beside the checkout)"
fi
generated s30 "$runs" 5 1499 30 6 0.3 1
generated s60 "$runs" 5 1499 60 6 0.3 1
codes wide "1499" 20000
codes widest "1499" 16777216
generated big20 "$runs" 12 1000000 20 8 0.3 1
generated big42 "$runs" 12 1000000 42 8 0.3 1
if wanted same; then
  mkdir -p "$work/same"
  printf '1000000 20\n' >"$work/same/t.desc"
  for ((a = 0; a < 20; ++a)); do echo 8; done >>"$work/same/t.desc"
  awk 'BEGIN { for (i = 0; i < 1000000; ++i) print "1 2 3 4 5 6 7 0 1 2 3 4 5 6 7 0 1 2 3 4" }' >"$work/same/t.data"
  measure "same: 1,000,000 identical records x 20" "$runs" "$work/same" t.data t.desc
  rm -rf "$work/same"
fi
[[ -n "${BENCH_BIG:-}" ]] && generated big7 3 12 10000000 20 8 0.3 1
[[ -n "${BENCH_HUGE:-}" ]] && generated big8 1 12 100000000 20 8 0.3 1
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
