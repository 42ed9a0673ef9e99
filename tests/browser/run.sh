#!/usr/bin/env bash
# The browser tests: converts scripts with the built program in a scratch
# directory and checks the pages in headless Chromium.
#   bash tests/browser/run.sh BUILD/hibarune SOURCE_DIR [CORPUS_DIR]
# CORPUS_DIR (default SOURCE_DIR/../shared/corpus) holds real scripts and
# their MANIFEST.tsv; that part is skipped when it is missing.
# Exit status 0 when every check passes, 1 on a failure, 77 when Chromium is
# missing (1 then under CI=true).
set -uo pipefail
source "$(dirname "$0")/lib.sh"

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 HIBARUNE SOURCE_DIR [CORPUS_DIR]"
  exit 2
fi
hibarune=$(realpath "$1")
source_dir=$(realpath "$2")
corpus_dir=${3:-$source_dir/../shared/corpus}
require_chromium

work=$(mktemp -d "${TMPDIR:-/tmp}/hibarune-browser.XXXXXX")
trap 'rm -rf "$work"' INT TERM
failures=0

# check PAGE CHECKS [name=value...] [-- chromium flags]: one line per page.
check() {
  browser_check "$@" || failures=$((failures + 1))
}

# A CP932 script as the browser shows it: UTF-8 with LF line ends.
expected_text() {
  iconv -f CP932 -t UTF-8 "$1" | sed 's/\r$//' >"$2"
}

# The last #rrggbb colour color.txt gives NAME.
colour_of() {
  sed -n "s/^[[:space:]]*$1[[:space:]]*=[[:space:]]*\(#[0-9a-fA-F]\{6\}\)[[:space:]]*$/\1/p" "$2" | tail -n 1
}

# convert DIR OPTIONS... SCRIPT: runs the program inside DIR, so that DIR's
# color.txt applies.
convert() {
  local dir=$1
  shift
  (cd "$dir" && "$hibarune" "$@") || {
    echo "hibarune $* failed in $dir"
    failures=$((failures + 1))
  }
}

# A fresh directory holding the sample script and the example colours.
sample_dir() {
  local dir="$work/$1"
  mkdir -p "$dir"
  cp "$source_dir/examples/sample.txt" "$source_dir/examples/color.txt" "$dir/"
  printf '%s' "$dir"
}

expected_text "$source_dir/examples/sample.txt" "$work/sample.expected.txt"
comment=$(colour_of COMMENT "$source_dir/examples/color.txt")
[ -n "$comment" ] || { echo "no COMMENT colour in examples/color.txt"; exit 1; }

style=$(sample_dir style)
convert "$style" sample.txt
check "$style/sample.txt.html" visible_text,token_colour \
  expect="$work/sample.expected.txt" tokens_prefix=';' colour="$comment"

class=$(sample_dir class)
convert "$class" -class sample.txt
check "$class/sample.txt.html" visible_text,token_colour \
  expect="$work/sample.expected.txt" tokens=span.COMMENT colour="$comment"

# -html5 pages of the sample, with and without numbers: lines, labels,
# copying, wrapping, and both schemes. The sample has fewer than 120 lines,
# so the page is opened at its last one.
last_line=L$(wc -l <"$work/sample.expected.txt")
for numbers in 1 0; do
  html5=$(sample_dir "html5-$numbers")
  if [ "$numbers" = 1 ]; then convert "$html5" -html5 -lineno sample.txt; else convert "$html5" -html5 sample.txt; fi
  check "$html5/sample.txt.html" visible_text,html5_links,html5_copy,html5_wrap,html5_scheme \
    expect="$work/sample.expected.txt" fragment="$last_line" top_lines="L60,L1,$last_line" \
    copy_from=10 copy_to=14 numbers="$numbers" scheme=light
  check "$html5/sample.txt.html" html5_scheme scheme=dark -- --force-dark-mode
done

# A script as the browser shows it, whatever its encoding: a UTF-8 byte
# order mark dropped, line ends made LF, each line cut at its first zero
# byte, and a last line end added.
expected_script_text() {
  local script=$1 encoding=$2 out=$3
  local decode=(cat)
  [ "$encoding" = cp932 ] && decode=(iconv -f CP932 -t UTF-8)
  ENCODING=$encoding perl -0777 -pe 's/\A\xEF\xBB\xBF// if $ENV{ENCODING} eq "utf-8";
    s/\r\n?/\n/g; s/\x00[^\n]*//g; $_ .= "\n" if length && !/\n\z/' "$script" | "${decode[@]}" >"$out"
}

# Every real script converted leniently, in the default mode and in
# -html5: each page shows its script's text. One Chromium run per page.
corpus_pages() {
  local list="$corpus_dir/MANIFEST.tsv" name encoding options dir lines
  mkdir -p "$work/corpus-style" "$work/corpus-html5" "$work/corpus-expected"
  while IFS=$'\t' read -r name _ _ _ _ _ encoding _; do
    [ "$name" = file ] && continue
    options=(-lenient)
    [ "$encoding" = utf-8 ] && options+=(-utf8)
    expected_script_text "$corpus_dir/$name" "$encoding" "$work/corpus-expected/$name"
    lines=$(wc -l <"$work/corpus-expected/$name")
    for dir in "$work/corpus-style" "$work/corpus-html5"; do
      cp "$corpus_dir/$name" "$dir/"
    done
    convert "$work/corpus-style" "${options[@]}" "$name" 2>/dev/null
    check "$work/corpus-style/$name.html" visible_text expect="$work/corpus-expected/$name"
    convert "$work/corpus-html5" -html5 -lineno "${options[@]}" "$name" 2>/dev/null
    check "$work/corpus-html5/$name.html" visible_text,html5_links expect="$work/corpus-expected/$name" \
      top_lines="L$((lines < 120 ? lines : 120))" label_links=20
  done <"$list"
}

if [ -f "$corpus_dir/MANIFEST.tsv" ]; then
  corpus_pages
else
  echo "browser tests: no corpus at $corpus_dir, its pages are not checked"
fi

if [ "$failures" -ne 0 ]; then
  echo "browser tests: $failures failed; pages kept in $work"
  exit 1
fi
rm -rf "$work"
echo "browser tests: ${BROWSER_CHECKS_PASSED:-0} checks passed"
