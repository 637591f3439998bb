#!/usr/bin/env bash
# Assigning many new rows: a generated CSV table of 20 word columns and 10
# planted clusters (BENCH_ROWS rows, default 1,000,000), a model trained on its
# first 20,000 rows (kelbow-csv, kelbow-labels -k 10 --refine --model), then
# kelbow-assign on the whole file, as CSV and as the tool's own table: CPU
# seconds and peak resident memory (GNU time). Prints figures; asserts nothing.
#
#   bench/assign_million.sh            # after: cmake -S . -B build && cmake --build build
#   BENCH_ROWS=10000000 bench/assign_million.sh
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${KELBOW_BIN:-$root/build/bin}"
rows="${BENCH_ROWS:-1000000}"
[[ -x /usr/bin/time ]] || { echo "needs GNU time at /usr/bin/time" >&2; exit 1; }
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
cd "$dir"

"$bin/kelbow-make-table" --csv big 10 "$rows" 20 8 0.3 1 >/dev/null
head -n 20001 big.csv >train.csv
"$bin/kelbow-csv" -q --drop id --labels class train.csv
"$bin/kelbow-labels" -d train.data -n train.desc -k 10 --refine --model train.model >/dev/null 2>&1
"$bin/kelbow-csv" -q --drop id --labels class -o whole big.csv
measure() {
  local what=$1
  shift
  for run in 1 2 3; do
    /usr/bin/time -f '%U %S %M' -o time.txt "$@" >out.csv 2>/dev/null
    awk -v what="$what" -v run="$run" '{ printf "%-34s run %d: %.2f CPU s, peak %.1f MB\n", what, run, $1 + $2, $3 / 1024 }' time.txt
  done
}
echo "model: $(wc -c <train.model) bytes; rows to assign: $rows"
measure "kelbow-assign MODEL big.csv" "$bin/kelbow-assign" train.model big.csv
measure "kelbow-assign --soft MODEL big.csv" "$bin/kelbow-assign" --soft train.model big.csv
measure "kelbow-assign MODEL -d DATA -n DESC" "$bin/kelbow-assign" train.model -d whole.data -n whole.desc
measure "(reading only: kelbow-csv big.csv)" "$bin/kelbow-csv" -q --force --drop id --labels class -o again big.csv
