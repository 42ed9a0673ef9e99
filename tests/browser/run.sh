#!/usr/bin/env bash
# The browser tests: converts scripts with the built program in a scratch
# directory and checks the pages in headless Chromium.
#   bash tests/browser/run.sh BUILD/hibarune SOURCE_DIR
# Exit status 0 when every check passes, 1 on a failure, 77 when Chromium is
# missing (1 then under CI=true).
set -uo pipefail
source "$(dirname "$0")/lib.sh"

if [ $# -ne 2 ]; then
  echo "usage: $0 HIBARUNE SOURCE_DIR"
  exit 2
fi
hibarune=$(realpath "$1")
source_dir=$(realpath "$2")
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

if [ "$failures" -ne 0 ]; then
  echo "browser tests: $failures failed; pages kept in $work"
  exit 1
fi
rm -rf "$work"
echo "browser tests: ${BROWSER_CHECKS_PASSED:-0} checks passed"
