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

# The pieces of an -html5 page that are not script text.
html5_text=(text_in=main.code text_skip=.refs)

# -html5 pages of the sample, with and without numbers: lines, labels,
# copying, wrapping, and both schemes. The sample has fewer than 120 lines,
# so the page is opened at its last one.
last_line=L$(wc -l <"$work/sample.expected.txt")
for numbers in 1 0; do
  html5=$(sample_dir "html5-$numbers")
  if [ "$numbers" = 1 ]; then convert "$html5" -html5 -lineno sample.txt; else convert "$html5" -html5 sample.txt; fi
  check "$html5/sample.txt.html" visible_text,html5_links,html5_copy,html5_wrap,html5_scheme \
    expect="$work/sample.expected.txt" "${html5_text[@]}" fragment="$last_line" top_lines="L60,L1,$last_line" \
    copy_lines=10-14 numbers="$numbers" scheme=light
  check "$html5/sample.txt.html" html5_scheme scheme=dark -- --force-dark-mode
done

# What the links of a page promise: a script with a user command, aliases,
# a label called from ten lines, an unknown command and a jumpf.
promises="$work/promises"
mkdir -p "$promises"
{
  printf '*define\ndefsub greet\nnumalias hp,30\nstralias bgname,"bg\\room.jpg"\ngame\n*start\n'
  printf 'greet\nmov %%hp,4\nbg bgname,1\nfrobnicate 1\ngoto $1\n'
  for _ in 1 2 3 4 5 6 7 8 9 10; do printf 'gosub *busy\n'; done
  printf 'jumpf\nmov %%hp,1\n~\nend\n*greet\nreturn\n*busy\nreturn\n*dead\nreturn\n'
} >"$promises/promises.txt"
convert "$promises" -html5 -lineno -lenient promises.txt 2>/dev/null
for alias in hp bgname; do
  check "$promises/promises.txt.html" html5_promises user_command=greet alias="$alias" busy_label=busy dead_label=dead
done
for scheme in light dark; do
  flags=()
  [ "$scheme" = dark ] && flags=(-- --force-dark-mode)
  check "$promises/promises.txt.html" html5_scheme scheme="$scheme" "${flags[@]}"
done

# A game folder read as the engine does, written into a site and opened
# from file://: a label link into the other file and the front page's box.
# 0.txt has 8 lines, and the engine's newline after it makes engine line 10
# the first of 1.txt.
game="$work/game"
mkdir -p "$game/game"
printf '*define\ndefsub greet\nnumalias hp,3\ngame\n*start\ngoto *second\n*greet\nreturn\n' >"$game/game/0.txt"
printf '*second\ngreet\nmov %%hp,4\ngosub *start\nend\n' >"$game/game/1.txt"
convert "$game" -html5 -lineno -o site game/
check "$game/site/1.txt.html" html5_game front_page="$game/site/index.html" \
  go_to='12=>1.txt.html#L3;*start:1=>0.txt.html#L6;1.txt:4=>1.txt.html#L4;*GREET=>0.txt.html#L7' \
  go_nowhere='*nolabel' filter_text=st filter_shows='*start'

# Printing lays out every block: the PDF of a 3,000-line page holds its last
# line, and none of the bar or the reference lists.
print_dir="$work/print"
mkdir -p "$print_dir"
{
  printf '*start\n'
  for ((i = 2; i < 3000; ++i)); do printf 'mov %%%d,%d\n' $((i % 100)) "$i"; done
  printf 'end ;lastlinemarker\n'
} >"$print_dir/print.txt"
convert "$print_dir" -html5 -lineno print.txt
if run_chromium --no-pdf-header-footer --print-to-pdf="$print_dir/print.pdf" "file://$print_dir/print.txt.html"; then
  if command -v pdftotext >/dev/null; then
    pdftotext "$print_dir/print.pdf" "$print_dir/print.pdf.txt"
    if ! grep -q 'end ;lastlinemarker' "$print_dir/print.pdf.txt" || grep -q 'references' "$print_dir/print.pdf.txt"; then
      echo "browser check failed: the printed page lacks its last line or shows its references ($print_dir/print.pdf.txt)"
      failures=$((failures + 1))
    fi
  elif [ "$(stat -c %s "$print_dir/print.pdf")" -lt 500000 ]; then
    # About 45 lines a page: 3,000 lines take some 60 pages and well over 500 kB.
    echo "browser check failed: the printed page is $(stat -c %s "$print_dir/print.pdf") bytes, too small for 3,000 lines"
    failures=$((failures + 1))
  fi
else
  echo "browser check failed: chromium could not print $print_dir/print.txt.html"
  failures=$((failures + 1))
fi

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
    convert "$work/corpus-html5" -html5 -lineno -split 0 "${options[@]}" "$name" 2>/dev/null
    check "$work/corpus-html5/$name.html" visible_text,html5_links expect="$work/corpus-expected/$name" \
      "${html5_text[@]}" top_lines="L$((lines < 120 ? lines : 120))" label_links=20
  done <"$list"
}

# A word of the script found once, on a line from FROM on: "LINE WORD".
unique_word() {
  local script=$1 from=$2 line word
  awk -v from="$from" 'NR >= from && NR < from + 400 {
      n = split($0, words, /[^A-Za-z]+/)
      for (i = 1; i <= n; i++) if (length(words[i]) >= 7) print NR, words[i]
    }' "$script" | while read -r line word; do
    if [ "$(grep -o -F -- "$word" "$script" | wc -l)" = 1 ]; then
      echo "$line $word"
      break
    fi
  done
}

# The part page of NAME whose line range holds LINE, from the first part's bar.
part_holding() {
  local first_part=$1 line=$2 page from to
  grep -o '<span class="parts">.*</span>' "$first_part" | grep -o '<a href="[^"]*">[0-9]*–[0-9]*' |
    sed 's/<a href="\([^"]*\)">\([0-9]*\)–\([0-9]*\)/\1 \2 \3/' | while read -r page from to; do
    if [ "$line" -ge "$from" ] && [ "$line" -le "$to" ]; then echo "$page"; break; fi
  done
}

# The largest real script, 48k lines: on one page, lines far down open at
# the top, find-in-page reaches them, and a copy over blocks is exact; in
# parts (20,000 lines each), a line of a later part opens in that part.
large_script() {
  local name=umineko-hane__0.txt
  local page="$work/corpus-html5/$name.html" expected="$work/corpus-expected/$name"
  [ -f "$page" ] || return 0
  local lines found gap
  lines=$(wc -l <"$expected")
  found=$(unique_word "$expected" 40000)
  # An empty line at the end of a run of 256: the cut between two blocks.
  gap=$(awk 'NR % 256 == 0 && $0 == "" { print NR; exit }' "$expected")
  check "$page" html5_links,html5_copy,html5_find expect="$expected" fragment=L40000 \
    top_lines="L30000,L120,L$lines" label_links=20 numbers=1 \
    copy_lines="250-260${gap:+,$((gap - 5))-$((gap + 5))}" find_line="${found%% *}" find_word="${found#* }"

  local parts="$work/large-parts" part
  mkdir -p "$parts"
  cp "$corpus_dir/$name" "$parts/"
  convert "$parts" -html5 -lineno -lenient "$name" 2>/dev/null
  part=$(part_holding "$parts/$name.html" 30000)
  if [ -z "$part" ]; then
    echo "browser check failed: no part of $name holds line 30000"
    failures=$((failures + 1))
    return
  fi
  check "$parts/$name.html" html5_parts fragment=L30000 part_page="$part"
  part=$(part_holding "$parts/$name.html" "${found%% *}")
  check "$parts/$part" html5_find find_line="${found%% *}" find_word="${found#* }"
}

if [ -f "$corpus_dir/MANIFEST.tsv" ]; then
  corpus_pages
  large_script
else
  echo "browser tests: no corpus at $corpus_dir, its pages are not checked"
fi

if [ "$failures" -ne 0 ]; then
  echo "browser tests: $failures failed; pages kept in $work"
  exit 1
fi
rm -rf "$work"
echo "browser tests: ${BROWSER_CHECKS_PASSED:-0} checks passed"
