#!/usr/bin/env bash
# kelbow on one thread (KELBOW_THREADS=1) against kelbow on every processor
# (KELBOW_THREADS unset), compared as two builds are: result file, standard
# output and exit status byte for byte, on every real data set beside the
# checkout and on generated tables of both roads. Uses the shared comparison
# script when it is beside the checkout; exit 1 when any table differs.
#
#   tests/threads/compare_thread_counts.sh build/bin
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$(cd "${1:-$root/build/bin}" && pwd)"
compare="$root/../shared/tools/compare-builds.sh"
if [[ ! -f "$compare" ]]; then
  echo "../shared/tools/compare-builds.sh is not beside the checkout: thread counts not compared"
  exit 0
fi
wrappers="$(mktemp -d)"
trap 'rm -rf "$wrappers"' EXIT
printf '#!/bin/sh\nKELBOW_THREADS=1 exec "%s" "$@"\n' "$bin/kelbow" >"$wrappers/kelbow-one-thread"
printf '#!/bin/sh\nunset KELBOW_THREADS\nexec "%s" "$@"\n' "$bin/kelbow" >"$wrappers/kelbow-all-threads"
chmod +x "$wrappers"/kelbow-*
bash "$compare" "$wrappers/kelbow-one-thread" "$wrappers/kelbow-all-threads" "$bin/kelbow-make-table"
