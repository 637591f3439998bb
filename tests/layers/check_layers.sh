#!/usr/bin/env bash
# Checks the direction of includes between the rooms of src/: a file may include
# headers of its own room and of rooms below it, never of a room above it or of
# a sibling on the same floor. Prints every offending include; exit 1 if any.
set -u
src=${1:-$(dirname "$0")/../../src}
# Floors, lowest first. Rooms on one floor do not include each other.
declare -A floor=(
  [common]=0
  [input]=1
  [cluster]=2
  [merge]=3 [summary]=3
  [analysis]=4 [plot]=4 [csv]=4 [profile]=4
  [choose]=5 [assign]=5
  [report]=6
  [api]=7
  [app]=8
)
bad=0
while IFS= read -r file; do
  room=${file#"$src"/}; room=${room%%/*}
  [ -n "${floor[$room]+x}" ] || { echo "$file: room '$room' has no floor in $0"; bad=1; continue; }
  while IFS= read -r line; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$line")
    [ "$target" = "$room" ] && continue
    if [ -z "${floor[$target]+x}" ]; then
      echo "$file: includes unknown room: $line"; bad=1
    elif [ "${floor[$target]}" -ge "${floor[$room]}" ]; then
      echo "$file: $room (floor ${floor[$room]}) includes $target (floor ${floor[$target]}): $line"; bad=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+/' "$file")
done < <(find "$src" -mindepth 2 -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
[ $bad = 0 ] && echo "includes point downwards only"
exit $bad
