#!/usr/bin/env bash
# A census-like table (30,000 rows by default: age, hours, an income with two
# decimals, a date, 6 word columns, 5 planted groups) encoded two ways, then
# clustered: every column as categories (the numbers' values as they are) and
# with the numbers cut into bins, as kelbow-csv does by default. Prints the time,
# processor time and peak memory of kelbow-csv, kelbow and kelbow-labels, and the
# adjusted Rand index of the labels at the planted K against the planted class;
# asserts nothing. The first way takes minutes (tens of thousands of value slots).
#
#   bench/csv_mixed.sh              # after: cmake -S . -B build && cmake --build build
#   BENCH_ROWS=1000000 BENCH_SKIP_CATEGORIES=1 bench/csv_mixed.sh
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${BIN:-$root/build/bin}"
rows="${BENCH_ROWS:-30000}"
for exe in kelbow kelbow-csv kelbow-labels kelbow-profile kelbow-make-table; do
  if [[ ! -x "$bin/$exe" ]]; then
    echo "no $exe in $bin: build first (cmake -S . -B build && cmake --build build) or set BIN" >&2
    exit 1
  fi
done
bin="$(cd "$bin" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

"$bin/kelbow-make-table" --csv --mixed --missing 0.01 census 5 "$rows" 6 6 0.5 4
echo "input: $(wc -c < census.csv) bytes, $rows rows, 12 columns, 5 planted groups"

measure() {  # measure LABEL COMMAND...: one line of figures
  local label=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o time.txt "$@" > /dev/null 2>&1
  read -r seconds user sys kib < time.txt
  printf '%-34s %8.2f s  %8.2f s CPU  %8.1f MB peak\n' "$label" "$seconds" \
    "$(echo "$user + $sys" | bc -l)" "$(echo "$kib / 1024" | bc -l)"
}
road() {  # road NAME KELBOW-CSV-OPTIONS...: encode, cluster, label, compare
  local name=$1
  shift
  measure "$name: kelbow-csv" "$bin/kelbow-csv" -q --drop id --labels class --missing '?,' \
    -o "$name" "$@" census.csv
  echo "$name: $(head -1 "$name.desc") (rows attributes), $(tail -n +2 "$name.desc" | paste -sd+ | bc) value slots"
  measure "$name: kelbow" "$bin/kelbow" -d "$name.data" -n "$name.desc"
  measure "$name: kelbow-labels -k 5" "$bin/kelbow-labels" -d "$name.data" -n "$name.desc" -k 5 \
    -o "$name.k5"
  echo "$name: $("$bin/kelbow-profile" -c "$name.labels" "$name" "$name.k5" | tail -1)"
}
if [[ -z "${BENCH_SKIP_CATEGORIES:-}" ]]; then
  road categories --categorical age,hours,income,joined
fi
road binned
