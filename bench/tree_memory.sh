#!/usr/bin/env bash
# Wall time and peak resident memory of kelbow on the large-table road, the new
# build beside an old one when KELBOW_OLD names it: connect-4 (67,557 rows, from
# ../shared/data beside the checkout) and generated tables of planted clusters
# (250,000 x 20, 1,000,000 x 20 and x 42; 10^7 and 10^8 rows x 20 on request),
# and kelbow-labels' peak on two table sizes, whose difference per row is what
# keeping the starting cluster of every row costs. Tables are written row by
# row into a scratch directory and deleted after use. Prints figures; asserts
# nothing about them.
#
#   bench/tree_memory.sh                      # after: cmake -S . -B build && cmake --build build
#   KELBOW_OLD=/work/ref-old/kelbow bench/tree_memory.sh
#   BENCH_HUGE="10000000 100000000" BENCH_DIR=/big/scratch bench/tree_memory.sh
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
exe="${KELBOW_EXE:-$root/build/bin/kelbow}"
old="${KELBOW_OLD:-}"
huge="${BENCH_HUGE:-}"
shared="$root/../shared/data"

for tool in "$exe" ${old:+"$old"}; do
  if [[ ! -x "$tool" ]]; then
    echo "no kelbow executable at $tool: build first (cmake -S . -B build && cmake --build build) or set KELBOW_EXE / KELBOW_OLD" >&2
    exit 1
  fi
done
if [[ ! -x /usr/bin/time ]]; then
  echo "needs GNU time at /usr/bin/time (apt-get install time)" >&2
  exit 1
fi
bin="$(cd "$(dirname "$exe")" && pwd)"
make_table="${KELBOW_MAKE_TABLE:-$bin/kelbow-make-table}"
labels="${KELBOW_LABELS:-$bin/kelbow-labels}"
for tool in "$make_table" "$labels"; do
  [[ -x "$tool" ]] || { echo "no $(basename "$tool") at $tool: build it" >&2; exit 1; }
done

work="$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/tree-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# run LABEL EXE DIR DATA DESC [ARGS...]: one run in DIR; prints one line (wall
# and user CPU seconds: on a loaded machine the CPU time is the steadier) and
# leaves the peak (KB) in $peak and the CPU time in $cpu.
peak=0
cpu=0
run() {
  local label=$1 tool=$2 dir=$3 data=$4 desc=$5 status=0
  shift 5
  rm -f "$dir/$data.kelbow" "$dir/$data"f*nc*.hier*
  (cd "$dir" && /usr/bin/time -f "%e %U %M" -o time.txt "$tool" -d "$data" -n "$desc" "$@" >out.txt 2>err.txt) ||
    status=$?
  local wall
  read -r wall cpu peak <"$dir/time.txt"
  if [[ $status -ne 0 ]]; then
    printf '  %-6s ended with status %d: %s\n' "$label" "$status" "$(head -c 200 "$dir/err.txt")"
    return 0
  fi
  awk -v l="$label" -v w="$wall" -v c="$cpu" -v p="$peak" \
    'BEGIN { printf "  %-6s %9.2f s wall %9.2f s CPU %9.1f MB peak\n", l, w, c, p / 1024 }'
}

# compare NAME DIR DATA DESC: new build, then the old one, with the ratio.
compare() {
  local name=$1 dir=$2 data=$3 desc=$4
  echo "$name"
  run new "$exe" "$dir" "$data" "$desc"
  if [[ -n "$old" ]]; then
    local newCpu=$cpu
    run old "$old" "$dir" "$data" "$desc"
    awk -v a="$cpu" -v b="$newCpu" 'BEGIN { if (b > 0) printf "  old/new CPU %6.2fx\n", a / b }'
  fi
}

# generate ROWS ATTRIBUTES: a table of 12 planted clusters, domain 8, noise 0.3,
# in its own directory (printed).
generate() {
  local rows=$1 attributes=$2 dir="$work/t$1x$2"
  local bytes=$((rows * attributes * 2 + rows))
  local free
  free=$(df -Pk "$work" | awk 'NR == 2 { printf "%.0f", $4 * 1024 }')
  if ((bytes > free - 1073741824)); then
    echo "  skipped: the table needs about $((bytes >> 30)) GB, $((free >> 30)) GB free in $work" >&2
    return 1
  fi
  mkdir -p "$dir"
  (cd "$dir" && "$make_table" big 12 "$rows" "$attributes" 8 0.3 1 >/dev/null)
  echo "$dir"
}

echo "kelbow: $exe${old:+, against $old}"
if [[ -f "$shared/connect-4/connect-4.data" ]]; then
  mkdir "$work/c4"
  ln -s "$shared/connect-4/connect-4.data" "$work/c4/connect-4.data"
  cp "$shared/connect-4/connect-4.desc" "$work/c4/"
  compare "connect-4 (67,557 x 42)" "$work/c4" connect-4.data connect-4.desc
else
  echo "connect-4: skipped, $shared/connect-4 not found (the shared data sets sit beside the checkout)"
fi

shapes=("250000 20" "1000000 20" "1000000 42")
for r in $huge; do shapes+=("$r 20"); done
for shape in "${shapes[@]}"; do
  read -r rows attributes <<<"$shape"
  echo "generated $rows x $attributes"
  dir=$(generate "$rows" "$attributes") || continue
  compare "  kelbow" "$dir" big.data big.desc
  if [[ "$rows" == 250000 || "$rows" == 1000000 && "$attributes" == 20 ]]; then
    # kelbow-labels against kelbow on the same table: what keeping every
    # row's starting cluster costs, per row.
    run new "$exe" "$dir" big.data big.desc >/dev/null
    kelbowPeak=$peak
    run labels "$labels" "$dir" big.data big.desc -k 3
    awk -v a="$kelbowPeak" -v b="$peak" -v n="$rows" \
      'BEGIN { printf "  labels keep %.1f bytes a row (peak beyond kelbow'"'"'s / rows)\n", (b - a) * 1024 / n }'
  fi
  rm -rf "$dir"
done
