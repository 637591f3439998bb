#!/usr/bin/env bash
# What refinement buys and costs: on a varied set of generated tables with
# planted clusters (300 to 100,000 rows, 2 to 15 clusters, noise 0.1 to 0.7,
# imbalanced, nested, with noise columns or mixed domain sizes), kelbow-labels
# at the planted K with and without --refine; the adjusted Rand index of each
# against the planted classes (kelbow-profile -c), the summed entropy before
# and after, and the CPU seconds of both runs. Prints one line per table and
# the means; asserts nothing.
#
#   bench/refine_ari.sh                 # after: cmake -S . -B build && cmake --build build
#   BENCH_TABLES=10 bench/refine_ari.sh # the first 10 tables only
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${KELBOW_BIN:-$root/build/bin}"
count="${BENCH_TABLES:-40}"
for tool in kelbow-make-table kelbow-labels kelbow-profile; do
  [[ -x "$bin/$tool" ]] || { echo "no $bin/$tool: build first" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "needs GNU time at /usr/bin/time" >&2; exit 1; }
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
cd "$dir"

sizes=(300 1000 3000 10000 30000 100000 600 2000 5000 20000)
shapes=("" "--imbalance 5" "--nested 2" "--noise-columns 4" "--domain-max 9" "--imbalance 3 --noise-columns 3")
printf '%-3s %7s %3s %4s %5s  %-30s %8s %8s %8s %8s %6s %7s %7s\n' \
  '#' rows K attr noise shape ari_cut ari_ref 'E_cut' 'E_ref' moved cpu_cut cpu_ref
sum_cut=0 sum_ref=0 sum_tcut=0 sum_tref=0 n=0 rises=0
for ((i = 0; i < count; i++)); do
  rows=${sizes[i % ${#sizes[@]}]}
  k=$((2 + (i * 5) % 14))
  attributes=$((12 + (i * 7) % 19))
  domain=$((3 + (i * 3) % 6))
  noise=$(awk -v i="$i" 'BEGIN { printf "%.2f", 0.1 + 0.6 * ((i * 7) % 13) / 12 }')
  shape=${shapes[i % ${#shapes[@]}]}
  # shellcheck disable=SC2086
  "$bin/kelbow-make-table" --labels $shape t "$k" "$rows" "$attributes" "$domain" "$noise" "$((i + 1))" >/dev/null
  cpu() { /usr/bin/time -f '%U %S' -o time.txt "$@" && awk '{ printf "%.2f", $1 + $2 }' time.txt; }
  tcut=$(cpu "$bin/kelbow-labels" -d t.data -n t.desc -k "$k" -o cut 2>/dev/null)
  tref=$(cpu "$bin/kelbow-labels" -d t.data -n t.desc -k "$k" -o ref --refine 2>refine.txt)
  report=$(grep 'refined:' refine.txt)
  ecut=$(sed -E 's/.*entropy ([0-9.]+) -> .*/\1/' <<<"$report")
  eref=$(sed -E 's/.*-> ([0-9.]+),.*/\1/' <<<"$report")
  moved=$(sed -E 's/.*; ([0-9]+) rows in another.*/\1/' <<<"$report")
  ari() { "$bin/kelbow-profile" -c t.labels t "$1" | sed -nE 's/.*adjusted Rand index ([-0-9.]+).*/\1/p'; }
  acut=$(ari cut)
  aref=$(ari ref)
  printf '%-3d %7d %3d %4d %5s  %-30s %8s %8s %8s %8s %6s %7s %7s\n' \
    "$((i + 1))" "$rows" "$k" "$attributes" "$noise" "${shape:--}" "$acut" "$aref" "$ecut" "$eref" "$moved" "$tcut" "$tref"
  read -r sum_cut sum_ref sum_tcut sum_tref rises < <(awk -v a="$sum_cut" -v b="$sum_ref" -v c="$sum_tcut" \
    -v d="$sum_tref" -v r="$rises" -v x="$acut" -v y="$aref" -v tc="$tcut" -v tr="$tref" -v e0="$ecut" -v e1="$eref" \
    'BEGIN { print a + x, b + y, c + tc, d + tr, r + (e1 > e0) }')
  n=$((n + 1))
done
awk -v a="$sum_cut" -v b="$sum_ref" -v c="$sum_tcut" -v d="$sum_tref" -v n="$n" -v r="$rises" 'BEGIN {
  printf "mean ARI at the planted K: cut %.4f, refined %.4f over %d tables; CPU s in all: cut %.1f, with --refine %.1f (x%.2f); tables whose entropy rose: %d\n",
    a / n, b / n, n, c, d, d / c, r }'
