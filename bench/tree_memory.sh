#!/usr/bin/env bash
# Peak memory and wall time of kelbow on the large-table road: connect-4
# (67,557 rows, from ../shared/data beside the checkout) and a generated table
# of planted clusters (1,000,000 rows by default). Prints the figures; asserts
# nothing about them.
#
#   bench/tree_memory.sh            # after: cmake -S . -B build && cmake --build build
#   KELBOW_EXE=/path/to/kelbow BENCH_ROWS=2000000 bench/tree_memory.sh
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
exe="${KELBOW_EXE:-$root/build/bin/kelbow}"
rows="${BENCH_ROWS:-1000000}"
shared="$root/../shared/data"

if [[ ! -x "$exe" ]]; then
  echo "no kelbow executable at $exe: build first (cmake -S . -B build && cmake --build build) or set KELBOW_EXE" >&2
  exit 1
fi
exe="$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")"
# The generator of tables with planted clusters, built beside kelbow.
make_table="${KELBOW_MAKE_TABLE:-$(dirname "$exe")/kelbow-make-table}"
if [[ ! -x "$make_table" ]]; then
  echo "no kelbow-make-table at $make_table: build it or set KELBOW_MAKE_TABLE" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# measure NAME DIR DATA DESC: runs kelbow in DIR, prints one line of figures and
# leaves the peak resident set (KB) in $last_peak.
last_peak=0
measure() {
  local name=$1 dir=$2 data=$3 desc=$4 wall peak status=0
  local records
  records=$(grep -c . "$dir/$data")
  if [[ -x /usr/bin/time ]]; then
    (cd "$dir" && /usr/bin/time -f "%e %M" -o time.txt "$exe" -d "$data" -n "$desc" >out.txt 2>err.txt) || status=$?
    read -r wall peak <"$dir/time.txt"
  else
    # Without GNU time: the children's peak resident set from getrusage.
    read -r wall peak status < <(cd "$dir" && python3 - "$exe" "$data" "$desc" <<'PY'
import resource, subprocess, sys, time
start = time.monotonic()
with open("out.txt", "w") as out, open("err.txt", "w") as err:
    status = subprocess.call([sys.argv[1], "-d", sys.argv[2], "-n", sys.argv[3]], stdout=out, stderr=err)
print(f"{time.monotonic() - start:.2f}", resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, status)
PY
)
  fi
  if [[ $status -ne 0 ]]; then
    echo "$name: kelbow ended with status $status: $(head -c 300 "$dir/err.txt")" >&2
    return 1
  fi
  local clusters
  clusters=$(grep -c '^iteration ' "$dir/out.txt" || true)
  awk -v n="$name" -v r="$records" -v w="$wall" -v p="$peak" -v k="$((clusters + 1))" 'BEGIN {
    printf "%-24s %9d rows %5d starting clusters %8.2f s %8.1f MB peak RSS\n", n, r, k, w, p / 1024
  }'
  last_peak=$peak
}

echo "kelbow: $exe"
if [[ -f "$shared/connect-4/connect-4.data" ]]; then
  mkdir "$work/c4"
  cp "$shared/connect-4/connect-4.data" "$shared/connect-4/connect-4.desc" "$work/c4/"
  measure connect-4 "$work/c4" connect-4.data connect-4.desc
else
  echo "connect-4: skipped, $shared/connect-4 not found (the shared data sets sit beside the checkout)"
fi

# The same generator at a quarter and at the full size: the difference of the
# peaks is what every further row costs.
quarter=$((rows / 4))
declare -A peaks
for n in "$quarter" "$rows"; do
  mkdir "$work/gen$n"
  (cd "$work/gen$n" && "$make_table" planted 10 "$n" 20 5 0.3 1)
  measure "planted, 20 attributes" "$work/gen$n" planted.data planted.desc
  peaks[$n]=$last_peak
  rm -f "$work/gen$n/planted.data"
done
awk -v a="${peaks[$quarter]}" -v b="${peaks[$rows]}" -v n=$((rows - quarter)) \
  'BEGIN { printf "growth of the peak per further row: %.1f bytes\n", (b - a) * 1024 / n }'
