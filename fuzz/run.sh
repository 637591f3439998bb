#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each of them on a seed corpus made from
# the real data sets in ../shared/data beside the checkout (the shipped example
# alone when they are missing).
#
# usage: fuzz/run.sh [-time SECONDS | -runs N] [HARNESS...]
#   -time SECONDS  run each harness for that long (default 60)
#   -runs N        run each harness for N executions instead
#   HARNESS        fuzz_description fuzz_data fuzz_run_direct fuzz_run_tree fuzz_csv fuzz_plot
#                  fuzz_profile fuzz_labels fuzz_choose (default: all)
# Environment: FUZZ_BUILD (build directory, default build-fuzz), CXX (default clang++).
# Findings land in FUZZ_BUILD/findings/HARNESS/; the script exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${FUZZ_BUILD:-build-fuzz}
mkdir -p "$build"
build=$(cd "$build" && pwd)  # the whole-run harnesses work in a directory of their own
limit=(-max_total_time=60)
harnesses=()
while [ $# -gt 0 ]; do
  case $1 in
    -time) limit=(-max_total_time="$2"); shift 2 ;;
    -runs) limit=(-runs="$2"); shift 2 ;;
    fuzz_*) harnesses+=("$1"); shift ;;
    *) echo "usage: fuzz/run.sh [-time SECONDS | -runs N] [HARNESS...]" >&2; exit 2 ;;
  esac
done
[ ${#harnesses[@]} -gt 0 ] || harnesses=(fuzz_description fuzz_data fuzz_run_direct fuzz_run_tree
  fuzz_csv fuzz_plot fuzz_profile fuzz_labels fuzz_choose)

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="${CXX:-clang++}" -DKELBOW_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${harnesses[@]}" >/dev/null

# Seeds: "description NUL data" files. Small tables keep their first 60 records
# (and declare 60 rows); large ones keep their description and 60 records
# (the tree reads whatever there is).
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds"
seed() {  # seed NAME DESCRIPTION-FILE DATA-COMMAND...
  local name=$1 desc=$2
  shift 2
  { cat "$desc"; printf '\0'; "$@"; } >"$seeds/$name"
}
shared=$root/../shared/data
if [ -d "$shared" ]; then
  for dir in "$shared"/*/; do
    n=$(basename "$dir")
    [ -f "$dir/$n.data" ] && [ -f "$dir/$n.desc" ] || continue
    rows=$(awk 'NR == 1 { print $1; exit }' "$dir/$n.desc")
    if [ "$rows" -lt 1500 ]; then
      awk 'NR == 1 { $1 = 60 } 1' "$dir/$n.desc" >"$seeds/$n.desc60"
      seed "$n" "$seeds/$n.desc60" head -n 60 "$dir/$n.data"
      rm "$seeds/$n.desc60"
    else
      seed "$n" "$dir/$n.desc" head -n 60 "$dir/$n.data"
      if command -v gzip >/dev/null; then seed "$n.gz" "$dir/$n.desc" sh -c "head -n 60 '$dir/$n.data' | gzip -c"; fi
      if command -v zstd >/dev/null; then seed "$n.zst" "$dir/$n.desc" sh -c "head -n 60 '$dir/$n.data' | zstd -q -c"; fi
    fi
  done
else
  echo "fuzz/run.sh: ../shared/data is not beside the checkout; seeding from the shipped example only" >&2
fi
awk 'NR == 1 { $1 = 60 } 1' examples/planted4.desc >"$seeds/planted4.desc60"
seed planted4 "$seeds/planted4.desc60" head -n 60 examples/planted4.data
rm "$seeds/planted4.desc60"
awk 'NR == 1 { $1 = 1500 } 1' examples/planted4.desc >"$seeds/planted4.desc1500"
seed planted4-tree "$seeds/planted4.desc1500" head -n 60 examples/planted4.data
rm "$seeds/planted4.desc1500"

# The companions' seeds start with a byte of options (see fuzz_companion.cpp).
companions=$build/seeds-companions
rm -rf "$companions"
mkdir -p "$companions"/{fuzz_csv,fuzz_plot,fuzz_profile,fuzz_labels,fuzz_choose}
{ printf '\x0b'; head -n 40 examples/critters.csv; } >"$companions/fuzz_csv/critters"
{ printf '\x01'; printf 'f.data\nkelbow\n'; for i in $(seq 1 29); do echo "0.0$((i % 7))1"; done
  echo f.data.kelbow; } >"$companions/fuzz_plot/block"
{ printf '\x03'; awk 'NR == 1 { $1 = 8 } 1' examples/planted4.desc; printf '\0'; head -n 8 examples/planted4.data
  printf '\0\0\0'; printf '1\n2\n1\n2\n1\n2\n1\n2\n'; } >"$companions/fuzz_profile/planted4"
{ printf '\x11'; awk 'NR == 1 { $1 = 30 } 1' examples/planted4.desc; printf '\0'
  head -n 30 examples/planted4.data; } >"$companions/fuzz_labels/planted4"
{ printf '\x11'; awk 'NR == 1 { $1 = 40 } 1' examples/planted4.desc; printf '\0'
  head -n 40 examples/planted4.data; } >"$companions/fuzz_choose/planted4"

status=0
for h in "${harnesses[@]}"; do
  corpus=$build/corpus/$h
  case $h in fuzz_csv | fuzz_plot | fuzz_profile | fuzz_labels | fuzz_choose) hseeds=$companions/$h ;; *) hseeds=$seeds ;; esac
  findings=$build/findings/$h
  mkdir -p "$corpus" "$findings"
  log=$build/$h.log
  # Whole runs merge what they read: shorter inputs keep them quick.
  case $h in fuzz_run_* | fuzz_labels | fuzz_choose) maxlen=8192 ;; *) maxlen=65536 ;; esac
  echo "== $h (${limit[*]})"
  # -close_fd_mask=3: the tool's own output stays quiet; sanitizer reports still show.
  if ! "$build/bin/$h" "${limit[@]}" -max_len=$maxlen -timeout=60 -rss_limit_mb=4096 -close_fd_mask=3 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" "$hseeds" >"$log" 2>&1; then
    echo "$h: FINDING (see $log and $findings)"
    tail -n 40 "$log"
    status=1
  fi
  grep -E '^stat::number_of_executed_units' "$log" | sed "s/^/$h: /" || true
done
exit $status
