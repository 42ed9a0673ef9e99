#!/usr/bin/env bash
# The reader benchmark: how heavy the -html5 page of a large real script is,
# in bytes and in the browser, against the same text as one plain <pre>.
#
#   bench/reader.sh [HIBARUNE] [SCRIPT] [--runs N]
#
# HIBARUNE: the program (default build/hibarune). SCRIPT: a CP932 script
# (default ../shared/corpus/umineko-hane__0.txt beside the repository).
# --runs: loads of each page (default 7). Needs headless Chromium ($CHROMIUM,
# or chromium on PATH) and iconv. Prints the page's weight against the
# script's, and the medians of Chromium's time to load and first paint the
# page, the plain page and an empty page, with the two costs less the empty
# page's. A report, not a test: the exit status is 0 unless a step fails.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
hibarune=$repo/build/hibarune
script=$repo/../shared/corpus/umineko-hane__0.txt
runs=7
positional=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    -*) echo "unknown option: $1" >&2; exit 2 ;;
    *) positional+=("$1"); shift ;;
  esac
done
[ ${#positional[@]} -ge 1 ] && hibarune=${positional[0]}
[ ${#positional[@]} -ge 2 ] && script=${positional[1]}
hibarune=$(realpath "$hibarune")
script=$(realpath "$script")
command -v "${CHROMIUM:-chromium}" >/dev/null || { echo "reader.sh: chromium not found" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/hibarune-reader.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# The pages: hibarune's, the plain one and the empty one.
name=$(basename "$script")
cp "$script" "$work/$name"
(cd "$work" && "$hibarune" -html5 -lineno -lenient -split 0 "$name" 2>/dev/null)
page=$work/$name.html
{
  printf '<!DOCTYPE html>\n<html>\n<head>\n<meta charset="utf-8">\n<title>%s</title>\n</head>\n<body>\n<pre>' "$name"
  iconv -f CP932 -t UTF-8 "$script" | sed -e 's/\r$//' -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g'
  printf '</pre>\n</body>\n</html>\n'
} >"$work/plain.html"
# One character: a page with no content is never painted with content.
printf '<!DOCTYPE html>\n<html>\n<head>\n<meta charset="utf-8">\n<title>empty</title>\n</head>\n<body>\n<pre>.</pre>\n</body>\n</html>\n' >"$work/empty.html"

script_bytes=$(stat -c %s "$script")
page_bytes=$(stat -c %s "$page")
plain_bytes=$(stat -c %s "$work/plain.html")

# One Chromium loads the three pages in turn, runs times.
source "$here/browser_times.sh"
browser_times "$work" "$runs" "file://$work/empty.html" "file://$work/plain.html" "file://$page" ||
  { echo "reader.sh: the browser run failed" >&2; exit 1; }
median() { times_median "$@"; }
all() { times_all "$@"; }
empty=$(median empty.html)
plain=$(median plain.html)
ours=$(median "$name.html")

echo "reader benchmark: $name, $runs loads of each page, medians"
awk -v s="$script_bytes" -v p="$page_bytes" -v q="$plain_bytes" 'BEGIN {
  printf "page weight: %d bytes for a script of %d bytes: %.2f x (target at most 5; the plain page is %.2f x)\n", p, s, p / s, q / s }'
echo "load and first paint, ms: empty $(all empty.html); plain $(all plain.html); page $(all "$name.html")"
awk -v e="$empty" -v q="$plain" -v p="$ours" 'BEGIN {
  printf "medians: empty %.0f ms, plain %.0f ms, page %.0f ms\n", e, q, p
  printf "browser cost less the empty page: page %.0f ms, plain %.0f ms: %.2f x (target at most 1.5)\n", p - e, q - e, (p - e) / (q - e) }'
