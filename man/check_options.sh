#!/usr/bin/env bash
# Checks that every option a tool's --help lists is in its manual page, so that
# the two cannot drift apart.
#
#   man/check_options.sh BINDIR MANDIR
#
# For every man page MANDIR/TOOL.1 whose TOOL is in BINDIR, the long options
# (--name) and short options (-x) at the start of the option lines of
# `TOOL --help` must each appear in the page (with its \- escapes read as -).
# Exit status: 0 when every option is in its page, 1 otherwise.
set -uo pipefail
bindir=$(cd "$1" && pwd) || exit 2
mandir=$(cd "$2" && pwd) || exit 2
missing=0
checked=0
for page in "$mandir"/*.1; do
  tool=$(basename "$page" .1)
  [ -x "$bindir/$tool" ] || continue
  text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
  # Option lines: indented, starting with an option; both forms of "-x, --long".
  options=$("$bindir/$tool" --help | grep -E '^ +-' |
    grep -oE '^ +(-[A-Za-z0-9](, )?)?(--[a-z][a-z0-9-]*)?' | grep -oE -- '--?[A-Za-z0-9][a-z0-9-]*')
  for option in $options; do
    checked=$((checked + 1))
    if ! grep -qE -- "(^|[^A-Za-z0-9-])${option}([^A-Za-z0-9-]|$)" <<<"$text"; then
      echo "$tool: $option is in --help but not in $page"
      missing=$((missing + 1))
    fi
  done
done
echo "$checked options checked, $missing missing from their manual page"
[ $missing = 0 ]
