#!/usr/bin/env bash
# Counts the instructions hibarune runs on the 2 MB inputs, under valgrind's
# callgrind: the same count every run for the same build and input, however
# busy the machine is. For judging a change to the analysis or the pages
# where wall times swing too much to tell.
#
#   bench/instructions.sh [BUILD_DIR]
#
# BUILD_DIR: a Release build with hibarune and gen_script (default:
# build-bench beside this directory, as bench/run.sh makes it). Prints one
# line a run: millions of instructions, and the run.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$(dirname "$here")/build-bench}
[ -x "$build/hibarune" ] && [ -x "$build/bench/gen_script" ] ||
  { echo "instructions.sh: no hibarune and gen_script in $build (run bench/run.sh once)" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "instructions.sh: valgrind is not installed" >&2; exit 2; }

data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
cd "$data"
"$build/bench/gen_script" 2M script-2M.txt >/dev/null
"$build/bench/gen_script" --game 10 2M game-2M >/dev/null

# count NAME ARGS...: one run under callgrind; its output is thrown away.
count() {
  local name=$1
  shift
  local total
  # -check exits 1 when it finds an error: the count is what matters here.
  total=$({ valgrind --tool=callgrind --callgrind-out-file="$data/callgrind.out" "$build/hibarune" "$@" 2>&1 >/dev/null || true; } |
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p')
  awk -v n="$total" -v name="$name" 'BEGIN { printf "%10.1f M  %s\n", n / 1e6, name }'
}

count "STYLE page of the 2 MB script" script-2M.txt
count "-html5 page of the 2 MB script" -html5 script-2M.txt
count "site of the 2 MB game (10 files)" -html5 -o site game-2M
count "-check of the 2 MB game" -check game-2M
