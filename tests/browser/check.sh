#!/usr/bin/env bash
# Runs check files against one page, by hand, and prints every result:
#   bash tests/browser/check.sh PAGE CHECKS [name=value...] [-- chromium flags...]
# e.g. bash tests/browser/check.sh examples/sample.txt.html token_colour \
#        tokens_prefix=';' colour='#517632'
set -uo pipefail
source "$(dirname "$0")/lib.sh"
if [ $# -lt 2 ]; then
  sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
require_chromium
BROWSER_VERBOSE=1 browser_check "$@"
