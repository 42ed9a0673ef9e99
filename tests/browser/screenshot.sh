#!/usr/bin/env bash
# Takes a screenshot of a page in headless Chromium:
#   bash tests/browser/screenshot.sh PAGE OUT.png [chromium flags...]
# The window is 1000x900 unless a --window-size=W,H flag says otherwise;
# e.g. --force-dark-mode for the dark scheme. Japanese text needs
# fonts-noto-cjk (or another CJK font) installed.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
if [ $# -lt 2 ]; then
  sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
page=$(realpath "$1") || exit 1
out=$(realpath -m "$2")
shift 2
require_chromium
fc-list :lang=ja 2>/dev/null | grep -q . ||
  echo "warning: no Japanese font found; Japanese text will show as boxes" >&2
rm -f "$out"
BROWSER_LOG=/dev/null run_chromium --window-size=1000,900 "$@" \
  --screenshot="$out" "file://$page" >/dev/null
status=$?
if [ $status -ne 0 ] || [ ! -s "$out" ]; then
  echo "screenshot of $page failed (chromium status $status)"
  exit 1
fi
