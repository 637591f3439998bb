#!/usr/bin/env bash
# Checks that every C++ source of the project is laid out as its .clang-format
# says. Prints each file that is not, with the command that fixes it; exit 1 if
# any, 77 (skipped) when clang-format is not installed.
set -u
root=${1:-$(dirname "$0")/../..}
cd "$root" || exit 1
format=$(command -v clang-format || command -v clang-format-14 || true)
if [ -z "$format" ]; then
  echo "clang-format is not installed: the layout check is skipped"
  exit 77
fi
bad=0
while IFS= read -r file; do
  if ! "$format" --style=file "$file" | cmp -s - "$file"; then
    echo "$file: not as .clang-format lays it out (fix: $format -i $file)"
    bad=1
  fi
done < <(find src tools fuzz tests examples python bench -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.inc' \) 2>/dev/null | sort)
[ $bad -eq 0 ] && echo "every source laid out as .clang-format says"
exit $bad
