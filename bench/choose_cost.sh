#!/usr/bin/env bash
# What the answer of kelbow-choose costs beside one plain kelbow run: CPU
# seconds (user + system), wall seconds and peak memory of both on generated
# tables of 1,000, 100,000 and 1,000,000 rows (20 attributes of 8 values, 12
# planted clusters), with kelbow-choose's default references and row orders on
# every processor. Prints the figures and the multiples; asserts nothing.
#
#   bench/choose_cost.sh                       # after: cmake -S . -B build && cmake --build build
#   BENCH_SIZES="1000 100000" BIN=/path/to/bin bench/choose_cost.sh
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${BIN:-$root/build/bin}"
sizes="${BENCH_SIZES:-1000 100000 1000000}"
for exe in kelbow kelbow-choose kelbow-make-table; do
  if [[ ! -x "$bin/$exe" ]]; then
    echo "no $exe in $bin: build first (cmake -S . -B build && cmake --build build) or set BIN" >&2
    exit 1
  fi
done
bin="$(cd "$bin" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
echo "processors: $(nproc)"

measure() {  # measure COMMAND...: sets cpu, wall, mb
  /usr/bin/time -f "%U %S %e %M" -o time.txt "$@" > /dev/null 2>&1
  read -r user sys wall kib < time.txt
  cpu=$(echo "$user + $sys" | bc -l)
  mb=$(echo "$kib / 1024" | bc -l)
}

printf '%9s  %-14s %8s %8s %9s\n' rows program "CPU s" "wall s" "peak MB"
for rows in $sizes; do
  "$bin/kelbow-make-table" t 12 "$rows" 20 8 0.3 1 > /dev/null
  rm -f t.data.kelbow
  measure "$bin/kelbow" -d t.data -n t.desc
  cpu1=$cpu wall1=$wall
  printf '%9d  %-14s %8.2f %8.2f %9.1f\n' "$rows" kelbow "$cpu" "$wall" "$mb"
  measure "$bin/kelbow-choose" -q --no-chart -d t.data -n t.desc
  printf '%9d  %-14s %8.2f %8.2f %9.1f   %.1fx CPU, %.1fx wall\n' "$rows" kelbow-choose "$cpu" \
    "$wall" "$mb" "$(echo "$cpu / $cpu1" | bc -l)" "$(echo "$wall / $wall1" | bc -l)"
done
