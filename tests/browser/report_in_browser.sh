#!/usr/bin/env bash
# Opens the report of the shipped example in headless Chromium, as a reader
# would: the page must be well formed (as XML, and to tidy's HTML checks when
# tidy is there), load nothing from outside, render without a console message,
# and hold the chart, the dendrogram and one section per cluster. Keeps a
# screenshot as a build artifact. Exit 77 (skipped) when no browser is installed.
#   report_in_browser.sh BIN SOURCE_DIR ARTIFACT_DIR
set -u
bin=$1 source=$2 artifacts=$3
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "skipped: no chromium on this machine (apt-get install chromium); the report was not opened in a browser"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

cp "$source/examples/critters.csv" "$work/"
(cd "$work" && "$bin/kelbow-report" -q --drop id --labels class --missing '?,' critters.csv) >"$work/out" 2>&1 ||
  fail "kelbow-report: $(cat "$work/out")"
page=$work/critters.report.html
size=$(wc -c <"$page")
echo "report: $size bytes"
[ "$size" -lt 1000000 ] || fail "the report is $size bytes, over 1 MB"

xmllint --noout "$page" || fail "the page is not well formed"
if command -v tidy >/dev/null 2>&1; then
  tidy -q -e "$page" >"$work/tidy" 2>&1 || fail "tidy: $(cat "$work/tidy")"
else
  echo "tidy is not installed: only the XML check was made"
fi
if command -v python3 >/dev/null 2>&1; then
  python3 -m json.tool "$work/critters.report.json" >/dev/null || fail "the JSON report does not parse"
fi
# Nothing is fetched: no source or link but the page's own anchors.
if grep -Eo '(src|href)="[^#"][^"]*"' "$page" >"$work/links"; then
  fail "the page loads from outside: $(cat "$work/links")"
fi

flags=(--headless --no-sandbox --disable-gpu --disable-background-networking
       --disable-component-update --disable-sync --no-first-run --user-data-dir="$work/profile"
       --enable-logging=stderr --v=0)
timeout 120 "$browser" "${flags[@]}" --dump-dom "file://$page" >"$work/dom" 2>"$work/log" ||
  fail "chromium could not open the page: $(tail -5 "$work/log")"
if grep -E 'CONSOLE|Uncaught|Failed to load' "$work/log" >"$work/console"; then
  fail "console messages: $(cat "$work/console")"
fi
k=$(grep -Eo '"k": [0-9]+' "$work/critters.report.json" | head -1 | grep -Eo '[0-9]+$')
[ -n "$k" ] || fail "no k in the JSON report"
for part in 'id="chart"' 'class="dendrogram"' 'id="overview"' 'id="variables"' 'id="classes"'; do
  grep -q "$part" "$work/dom" || fail "the rendered page has no $part"
done
sections=$(grep -c '<section class="cluster"' "$work/dom")
[ "$sections" = "$k" ] || fail "$sections cluster sections for $k clusters"
for c in $(seq 1 "$k"); do
  grep -q "id=\"cluster-$c\"" "$work/dom" || fail "no section of cluster $c"
done

mkdir -p "$artifacts"
shot=$artifacts/report-screenshot.png
rm -f "$shot"
timeout 120 "$browser" "${flags[@]}" --window-size=1200,1500 --screenshot="$shot" "file://$page" \
  >/dev/null 2>"$work/log" || fail "no screenshot: $(tail -5 "$work/log")"
[ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "the screenshot is no PNG"
echo "rendered with $k cluster sections, the chart and the dendrogram; screenshot $shot"
