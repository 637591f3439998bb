#!/usr/bin/env bash
# The allocation-failure sweep: every tool runs with every allocation from the
# N-th on failing (the LD_PRELOAD library fail_alloc), for a sample of N from
# the first allocation to the last of a whole run. Each trial must end with
# status 0 and the files of a clean run, or with status 1, one message line and
# every file as it was before; never with a signal, an abort or a temporary
# left behind. Running out of memory must have been said at least once a tool.
#
#   tests/alloc/alloc_sweep.sh BINDIR SHIM [SAMPLES]
#
# SAMPLES (default 40) is the number of N tried per tool beyond the first 12.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BINDIR SHIM [SAMPLES]" >&2
  exit 2
fi
bin=$(cd "$1" && pwd) || exit 2
shim=$2
samples=${3:-40}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The starting state of every trial: a table in the tool's format with a result
# file, a CSV file, the table kelbow-csv made of it with labels, and earlier
# outputs of every tool, so that a failed run has something to leave alone.
base=$work/base
mkdir -p "$base"
(
  cd "$base" || exit 1
  "$bin/kelbow-make-table" t 4 120 8 5 0.1 1 &&
    "$bin/kelbow-make-table" --csv --missing 0.05 c 3 90 6 4 0.1 2 &&
    "$bin/kelbow" -d t.data -n t.desc >/dev/null &&
    "$bin/kelbow-plot" t.data.kelbow >/dev/null &&
    "$bin/kelbow-csv" -q -x id -l class -m '?,' c.csv &&
    "$bin/kelbow-labels" -d c.data -n c.desc -k 3 -o c.k3 2>/dev/null &&
    "$bin/kelbow-labels" -d t.data -n t.desc -k 3 -o t.k3 2>/dev/null &&
    "$bin/kelbow-profile" -c c.labels -o c.report c c.k3 &&
    "$bin/kelbow-choose" -q -r 2 -s 1 -d t.data -n t.desc -o t.choice >/dev/null &&
    "$bin/kelbow-make-table" g 3 40 5 4 0.1 9
) || {
  echo "alloc_sweep: the starting files could not be made" >&2
  exit 1
}

# The command of each tool, run in a copy of the starting state.
commands=(
  "kelbow-make-table g 3 50 5 4 0.1 1"
  "kelbow-csv --force -q -x id -l class -m ?, c.csv"
  "kelbow -d t.data -n t.desc"
  "kelbow-plot t.data.kelbow"
  "kelbow-labels -d t.data -n t.desc -k 3 -o t.k3"
  "kelbow-profile -c c.labels -o c.report c c.k3"
  "kelbow-choose -q -r 2 -s 1 -d t.data -n t.desc -o t.choice"
  "kelbow-report -q -x id -l class -m ?, -r 2 -s 1 -j 1 --record c.run c.csv"
)

state() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 md5sum); }

failures=0
trials=0
for command in "${commands[@]}"; do
  read -r -a words <<<"$command"
  tool=${words[0]}
  # A clean run gives the files every successful trial must match, and the count.
  clean=$work/clean
  rm -rf "$clean"
  cp -a "$base" "$clean"
  (cd "$clean" && KELBOW_COUNT_ALLOCATIONS=$work/count LD_PRELOAD=$shim \
    "$bin/$tool" "${words[@]:1}" >"$work/clean.out" 2>"$work/clean.err")
  status=$?
  total=$(cat "$work/count" 2>/dev/null || echo 0)
  if [ $status -ne 0 ] || [ "$total" -lt 1 ]; then
    echo "$tool: the clean run failed (status $status, $total allocations)" >&2
    cat "$work/clean.err" >&2
    failures=$((failures + 1))
    continue
  fi
  after=$(state "$clean")
  before=$(state "$base")
  # The first allocations one by one, then a spread up to the last.
  ns=$(
    seq 1 12
    awk -v t="$total" -v s="$samples" 'BEGIN { for (i = 1; i <= s; ++i) print int(12 + (t - 12) * i / s) }'
  )
  said=0
  for n in $(printf '%s\n' $ns | awk '$1 >= 1' | sort -n -u); do
    trials=$((trials + 1))
    trial=$work/trial
    rm -rf "$trial"
    cp -a "$base" "$trial"
    # Scratch files in the temporary directory must go too.
    rm -rf "$work/tmp"
    mkdir "$work/tmp"
    (cd "$trial" && TMPDIR=$work/tmp KELBOW_FAIL_ALLOCATION_FROM=$n LD_PRELOAD=$shim \
      "$bin/$tool" "${words[@]:1}" >"$work/out" 2>"$work/err")
    status=$?
    problem=""
    leftovers=$(cd "$trial" && find . -name '*.tmp-*'; find "$work/tmp" -mindepth 1)
    if [ $status -ne 0 ] && [ $status -ne 1 ]; then
      problem="status $status"
    elif [ -n "$leftovers" ]; then
      problem="temporaries left: $leftovers"
    elif [ $status -eq 0 ] && [ "$(state "$trial")" != "$after" ]; then
      problem="exit 0 but the files differ from a clean run's"
    elif [ $status -eq 1 ] && [ "$(state "$trial")" != "$before" ]; then
      problem="exit 1 but the files changed"
    elif [ $status -eq 1 ] && [ ! -s "$work/err" ]; then
      problem="exit 1 without a message"
    fi
    grep -q "^$tool: out of memory\$" "$work/err" && said=1
    if [ -n "$problem" ]; then
      failures=$((failures + 1))
      echo "$tool, allocations from $n of $total failing: $problem" >&2
      head -c 600 "$work/err" >&2
    fi
  done
  if [ $said -eq 0 ]; then
    echo "$tool: no trial said '$tool: out of memory' (is the library preloaded?)" >&2
    failures=$((failures + 1))
  fi
  echo "$tool: $total allocations in a whole run; sampled"
done
echo "$trials trials, $failures failed"
[ $failures -eq 0 ]
