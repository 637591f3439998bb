#!/usr/bin/env bash
# Checks manual pages: each must format without a single warning, and its
# examples must print what the page shows, so that a page cannot drift from the
# tools.
#
#   man/check_pages.sh BINDIR PAGE...
#
# In the EXAMPLES section of each rendered page, every indented line "$ command"
# is run with bash in a fresh directory (one per page, shared by its examples),
# with BINDIR first on PATH; a command whose line ends in "|" or "\" goes on on
# the next line. The indented lines after it, up to the next command or the end
# of the block, are what it prints on standard output and standard error
# together; a shown line "..." stands for any further lines. Every command must
# also exit with status 0 (show a failing one as "command || echo ..."). A page
# without "$ " lines is only formatted.
# Exit status: 0 when every page is clean and every example matches, 1
# otherwise, 77 without man(1) and groff(1).
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BINDIR PAGE..." >&2
  exit 2
fi
if ! command -v man >/dev/null 2>&1 || ! command -v groff >/dev/null 2>&1; then
  echo "man or groff is not installed: manual pages not checked"
  exit 77
fi
bindir=$(cd "$1" && pwd) || exit 2
shift

failures=0
for page in "$@"; do
  page=$(cd "$(dirname "$page")" && pwd)/$(basename "$page")
  # man -l drops the formatter's warnings when standard error is not a terminal.
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
  formats="formats cleanly"
  if [ -n "$warnings" ]; then
    echo "$warnings" >&2
    failures=$((failures + 1))
    formats="formats with warnings"
  fi
  work=$(mktemp -d)
  cmd=""
  shown=""
  count=0

  # Runs the pending command and compares its output with the shown lines.
  flush() {
    [ -n "$cmd" ] || return 0
    count=$((count + 1))
    local actual status want
    actual=$(cd "$work" && PATH="$bindir:$PATH" bash -c "$cmd" 2>&1)
    status=$?
    want=${shown%$'\n'}
    if [[ $want == *$'\n...' || $want == "..." ]]; then
      want=${want%...}
      want=${want%$'\n'}
      actual=$(printf '%s\n' "$actual" | head -n "$(printf '%s\n' "$want" | grep -c '')")
      [ -n "$want" ] || actual=""
    fi
    if [ $status -ne 0 ] || [ "$actual" != "$want" ]; then
      failures=$((failures + 1))
      {
        echo "$(basename "$page"): example \$ $cmd"
        echo "  exit status $status; shown:"
        printf '%s\n' "$want" | sed 's/^/    | /'
        echo "  printed:"
        printf '%s\n' "$actual" | sed 's/^/    | /'
      } >&2
    fi
    cmd=""
    shown=""
  }

  continued=0
  while IFS= read -r line; do
    if [[ ! $line =~ ^\ {8,} ]]; then  # text or a blank line ends a block
      flush
      continued=0
      continue
    fi
    text=${line:11}
    if [ $continued -eq 1 ]; then
      cmd+=$'\n'${text#"${text%%[! ]*}"}
    elif [[ $text == '$ '* ]]; then
      flush
      cmd=${text:2}
    else
      shown+=$text$'\n'
      continue
    fi
    continued=0
    [[ $cmd == *'|' || $cmd == *'\' ]] && continued=1
  done < <(MANWIDTH=200 man -l "$page" 2>/dev/null | awk '/^[A-Z]/ { on = ($0 == "EXAMPLES") ; next } on')
  flush
  rm -rf "$work"
  if [ $count -eq 0 ]; then
    echo "$(basename "$page"): $formats; no \$ examples to run"
  else
    echo "$(basename "$page"): $formats; $count example commands checked"
  fi
done
[ $failures -eq 0 ]
