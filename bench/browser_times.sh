# Shared by the browser benchmarks: load pages in one headless Chromium, in
# turn, and read the time each load took (see reader.html).
#   source bench/browser_times.sh
#   browser_times WORK RUNS URL...   sets times_log to the browser's log
#   times_median NAME / times_all NAME  read that log for a page's file name

# browser_times WORK RUNS URL...: fails (status 1) with the browser's last
# words when it does not finish.
browser_times() {
  local work=$1 runs=$2
  shift 2
  local chromium pages here browser limit
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  chromium=$(command -v "${CHROMIUM:-chromium}") || { echo "chromium not found" >&2; return 1; }
  pages=$(IFS=,; printf '%s' "$*")
  times_log=$work/chromium.log
  "$chromium" --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --disable-dev-shm-usage --hide-scrollbars --mute-audio \
    --allow-file-access-from-files --window-size=1100,800 --user-data-dir="$work/profile" \
    --enable-logging=stderr --log-level=0 \
    "file://$here/reader.html?runs=$runs&pages=$pages" >/dev/null 2>"$times_log" &
  browser=$!
  limit=$((SECONDS + 60 + runs * 90))
  until grep -q 'READER DONE' "$times_log"; do
    if [ $SECONDS -gt $limit ] || ! kill -0 "$browser" 2>/dev/null; then
      echo "the browser did not finish; its log:" >&2
      tail -n 20 "$times_log" >&2
      kill "$browser" 2>/dev/null
      return 1
    fi
    sleep 1
  done
  kill "$browser" 2>/dev/null || true
  wait "$browser" 2>/dev/null || true
  if grep -q 'READER ERROR' "$times_log"; then
    grep -o 'READER ERROR[^"]*' "$times_log" >&2
    return 1
  fi
}

# The median of the times logged for a page.
times_median() {
  grep -o "READER $1 [0-9.]*" "$times_log" | awk '{ print $3 }' | sort -g |
    awk '{ t[NR] = $1 } END { print (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2) }'
}
times_all() { grep -o "READER $1 [0-9.]*" "$times_log" | awk '{ printf "%s%.0f", (NR > 1 ? " " : ""), $3 }'; }
