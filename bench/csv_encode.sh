#!/usr/bin/env bash
# Wall time, processor time and peak memory of kelbow-csv on a generated CSV file of planted
# clusters (1,000,000 rows of 20 attributes by default, with a header, an
# identifier column that is dropped, missing values and a class column kept
# aside), read from a file and from a pipe. Prints the figures; asserts nothing.
#
#   bench/csv_encode.sh             # after: cmake -S . -B build && cmake --build build
#   BENCH_ROWS=2000000 BIN=/path/to/bin bench/csv_encode.sh
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${BIN:-$root/build/bin}"
rows="${BENCH_ROWS:-1000000}"
for exe in kelbow-csv kelbow-make-table; do
  if [[ ! -x "$bin/$exe" ]]; then
    echo "no $exe in $bin: build first (cmake -S . -B build && cmake --build build) or set BIN" >&2
    exit 1
  fi
done
bin="$(cd "$bin" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

"$bin/kelbow-make-table" --csv --missing 0.02 big 10 "$rows" 20 6 0.1 1
echo "input: $(wc -c < big.csv) bytes, $rows rows, 22 columns"

measure() {  # measure LABEL COMMAND...: one line of figures
  local label=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o time.txt "$@" > /dev/null
  read -r seconds user sys kib < time.txt
  printf '%-28s %6.2f s  %6.2f s CPU  %8.1f MB peak\n' "$label" "$seconds" \
    "$(echo "$user + $sys" | bc -l)" "$(echo "$kib / 1024" | bc -l)"
}
measure "kelbow-csv FILE" "$bin/kelbow-csv" -q --drop id --labels class -m '?,' big.csv
measure "cat FILE | kelbow-csv -" sh -c "cat big.csv | '$bin/kelbow-csv' -q --drop id --labels class -o piped -"
cmp big.data piped.data && echo "file and pipe give the same big.data"
