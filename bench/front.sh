#!/usr/bin/env bash
# The front page benchmark: the site of a generated game (100 files, 20 MB,
# about 600,000 lines and 70,000 labels) and Chromium's time to load and
# first paint its front page, against a plain page of the same label list.
#
#   bench/front.sh [BUILD_DIR] [--runs N]
#
# BUILD_DIR: a build with hibarune and bench/gen_script (default build).
# --runs: loads of each page (default 7). Needs headless Chromium. Prints the
# medians, both less an empty page's time, and their ratio (target: under
# 2). A report, not a test: the exit status is 0 unless a step fails.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
build=$(dirname "$here")/build
runs=7
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    -*) echo "unknown option: $1" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
build=$(realpath "$build")
source "$here/browser_times.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/hibarune-front.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
"$build/bench/gen_script" --game 100 20M "$work/game"
"$build/hibarune" -html5 -o "$work/site" "$work/game" 2>/dev/null
front=$work/site/index.html

# The same labels as a plain ordered list, each a link, nothing else.
{
  printf '<!DOCTYPE html>\n<html>\n<head>\n<meta charset="utf-8">\n<title>labels</title>\n</head>\n<body>\n<ol>\n'
  grep -o '<li><a href="[^"]*">\*[^<]*</a>' "$front" | sed 's/$/<\/li>/'
  printf '</ol>\n</body>\n</html>\n'
} >"$work/labels.html"
printf '<!DOCTYPE html>\n<html>\n<head>\n<meta charset="utf-8">\n<title>empty</title>\n</head>\n<body>\n<pre>.</pre>\n</body>\n</html>\n' >"$work/empty.html"

browser_times "$work" "$runs" "file://$work/empty.html" "file://$work/labels.html" "file://$front" ||
  { echo "front.sh: the browser run failed" >&2; exit 1; }
empty=$(times_median empty.html)
plain=$(times_median labels.html)
ours=$(times_median index.html)
labels=$(grep -c '^<li><a href="[^"]*">\*' "$front")
echo "front page benchmark: a generated game of 100 files, $labels labels, $runs loads of each page, medians"
echo "front page $(stat -c %s "$front") bytes; the plain label list $(stat -c %s "$work/labels.html") bytes"
echo "load and first paint, ms: empty $(times_all empty.html); labels $(times_all labels.html); front page $(times_all index.html)"
awk -v e="$empty" -v q="$plain" -v p="$ours" 'BEGIN {
  printf "less the empty page: front page %.0f ms, plain label list %.0f ms: %.2f x (target under 2)\n", p - e, q - e, (p - e) / (q - e) }'
