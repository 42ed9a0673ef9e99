# Shared by the browser-test scripts: finding Chromium, running it headless
# with a time limit, and running check files against a page.
# Source it; it defines functions and BROWSER_DIR, nothing runs.

BROWSER_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BROWSER_TIMEOUT=${BROWSER_TIMEOUT:-60}

# The Chromium binary: $CHROMIUM if set, else the first one on PATH.
find_chromium() {
  if [ -n "${CHROMIUM:-}" ]; then
    command -v "$CHROMIUM"
    return
  fi
  local candidate
  for candidate in chromium chromium-browser; do
    if command -v "$candidate"; then return 0; fi
  done
  return 1
}

# Exits 77 (skipped) when Chromium is missing, or 1 under CI=true, where the
# browser tests must run.
require_chromium() {
  if CHROMIUM_BIN=$(find_chromium); then return 0; fi
  if [ "${CI:-}" = true ]; then
    echo "browser tests: chromium not found, and CI must run them (apt-get install chromium fonts-noto-cjk)"
    exit 1
  fi
  echo "browser tests skipped: chromium not found (apt-get install chromium fonts-noto-cjk)"
  exit 77
}

# Runs headless Chromium with a fresh profile and a time limit, then removes
# the profile. Standard error goes to $BROWSER_LOG when set.
run_chromium() {
  local profile status
  profile=$(mktemp -d "${TMPDIR:-/tmp}/hibarune-chromium.XXXXXX") || return 1
  timeout --kill-after=10 "$BROWSER_TIMEOUT" "$CHROMIUM_BIN" \
    --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --disable-dev-shm-usage --hide-scrollbars --mute-audio \
    --user-data-dir="$profile" "$@" 2>>"${BROWSER_LOG:-/dev/null}"
  status=$?
  rm -rf "$profile"
  return $status
}

# Percent-encodes a query value byte by byte.
url_encode() {
  local LC_ALL=C text=$1 out='' char i
  for ((i = 0; i < ${#text}; ++i)); do
    char=${text:i:1}
    case $char in
      [A-Za-z0-9._~/-]) out+=$char ;;
      *) out+=$(printf '%%%02X' "'$char") ;;
    esac
  done
  printf '%s' "$out"
}

# The text of the harness's #results element out of a dumped DOM.
results_of_dump() {
  sed -n '/<pre id="results">/,/<\/pre>/p' |
    sed -e 's/.*<pre id="results">//' -e 's/<\/pre>.*//' \
        -e 's/&lt;/</g' -e 's/&gt;/>/g' -e 's/&quot;/"/g' -e 's/&amp;/\&/g'
}

# browser_check PAGE CHECKS [name=value...] [-- chromium flags...]
# Runs the check files CHECKS (comma-separated names under checks/) against
# PAGE. Quiet when every check passes; otherwise prints the failures and the
# command that repeats the run, and returns 1.
browser_check() {
  local all=("$@") page=$1 checks=$2
  shift 2
  local query="page=$(url_encode "$(realpath "$page")")&checks=$(url_encode "$checks")"
  local flags=() arg
  while [ $# -gt 0 ]; do
    arg=$1
    shift
    if [ "$arg" = -- ]; then flags=("$@"); break; fi
    query+="&$(url_encode "${arg%%=*}")=$(url_encode "${arg#*=}")"
  done
  local log dump results status
  log=$(mktemp "${TMPDIR:-/tmp}/hibarune-browser-log.XXXXXX") || return 1
  dump=$(BROWSER_LOG=$log run_chromium --allow-file-access-from-files \
           --virtual-time-budget=20000 --window-size=1100,800 "${flags[@]}" \
           --dump-dom "file://$BROWSER_DIR/harness.html?$query")
  status=$?
  results=$(printf '%s\n' "$dump" | results_of_dump)
  [ -n "${BROWSER_VERBOSE:-}" ] && grep '^PASS' <<<"$results"
  if [ $status -eq 0 ] && grep -qx DONE <<<"$results" && ! grep -q '^FAIL' <<<"$results" &&
     grep -q '^PASS' <<<"$results"; then
    rm -f "$log"
    BROWSER_CHECKS_PASSED=$((${BROWSER_CHECKS_PASSED:-0} + $(grep -c '^PASS' <<<"$results")))
    return 0
  fi
  echo "browser check failed: $checks on $page"
  [ $status -eq 124 ] && echo "  chromium timed out after ${BROWSER_TIMEOUT}s"
  [ $status -ne 0 ] && [ $status -ne 124 ] && echo "  chromium exited with status $status"
  grep -qx DONE <<<"$results" || echo "  the harness did not finish"
  grep '^FAIL' <<<"$results" | sed 's/^/  /'
  # Chromium always complains about the missing D-Bus; the rest may matter.
  local messages
  messages=$(grep -v -e 'dbus' -e '^$' "$log" | tail -n 5)
  if [ -n "$messages" ]; then
    echo "  chromium's last messages:"
    sed 's/^/    /' <<<"$messages"
  fi
  echo "  repeat: bash $BROWSER_DIR/check.sh$(printf ' %q' "${all[@]}")"
  rm -f "$log"
  return 1
}
