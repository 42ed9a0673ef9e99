#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a
# bounded time. Fails on any crash, leak, sanitizer report, timeout or
# broken invariant; prints executions, seconds and coverage per target.
#
# Environment:
#   FUZZ_SECONDS      seconds per target (default 60)
#   FUZZ_CXX          the clang++ to use (default clang++, else clang++-14)
#   FUZZ_BUILD_DIR    build directory (default build-fuzz)
#   FUZZ_MAX_LEN      longest input in bytes (default 16384); longer seeds are cut
#   FUZZ_EXTRA_SEEDS  a directory of further scripts to seed the corpora with
#   FUZZ_ARGS         further libFuzzer options, for example "-seed=1"
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

seconds=${FUZZ_SECONDS:-60}
max_len=${FUZZ_MAX_LEN:-16384}
build=${FUZZ_BUILD_DIR:-build-fuzz}
targets=(fuzz_tokenizer fuzz_convert fuzz_config fuzz_analysis)
# Seeds beyond this are left out; those beyond max_len are cut when loaded.
max_seed_bytes=$((1024 * 1024))

if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz: FUZZ_SECONDS must be a positive number of seconds, not '$seconds'" >&2
  exit 2
fi
if ! [[ $max_len =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz: FUZZ_MAX_LEN must be a positive number of bytes, not '$max_len'" >&2
  exit 2
fi

cxx=${FUZZ_CXX:-}
if [ -z "$cxx" ]; then
  for candidate in clang++ clang++-14; do
    if command -v "$candidate" >/dev/null; then cxx=$candidate; break; fi
  done
fi
if [ -z "$cxx" ] || ! command -v "$cxx" >/dev/null; then
  echo "fuzz: ${cxx:-clang++} not found; fuzz targets skipped"
  exit 0
fi
cxx=$(command -v "$cxx")

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# libFuzzer ships in clang's runtime package, which may be missing.
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$tmp/probe.cpp"
if ! "$cxx" -fsanitize=fuzzer,address,undefined "$tmp/probe.cpp" -o "$tmp/probe" 2>"$tmp/probe.log"; then
  echo "fuzz: $cxx cannot link libFuzzer with the sanitizers (is libclang-rt-dev installed?); fuzz targets skipped"
  exit 0
fi

if ! command -v cmake >/dev/null; then
  echo "fuzz: cmake not found" >&2
  exit 1
fi

echo "fuzz: building with $cxx in $build"
if ! cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DHIBARUNE_FUZZ=ON -DBUILD_TESTING=OFF -DHIBARUNE_BENCH=OFF >"$tmp/configure.log" 2>&1; then
  cat "$tmp/configure.log" >&2
  echo "fuzz: configuring failed" >&2
  exit 1
fi
if ! cmake --build "$build" -j2 --target "${targets[@]}" >"$tmp/build.log" 2>&1; then
  cat "$tmp/build.log" >&2
  echo "fuzz: building failed" >&2
  exit 1
fi

# ---- Corpora: the seeds of each target, then scripts and command files ----

for target in "${targets[@]}"; do
  mkdir -p "$tmp/corpus/$target"
  if [ -d "fuzz/seeds/$target" ]; then cp fuzz/seeds/"$target"/* "$tmp/corpus/$target/" 2>/dev/null; fi
done

small_enough() { [ "$(wc -c <"$1")" -le "$max_seed_bytes" ]; }

# Copies a file into a corpus with one leading byte (the target's selector).
add_prefixed() {
  local prefix=$1 file=$2 dest=$3
  { printf '%s' "$prefix"; cat "$file"; } >"$dest"
}

scripts=()
for file in examples/*.txt; do [ -f "$file" ] && scripts+=("$file"); done
while IFS= read -r -d '' file; do scripts+=("$file"); done < <(
  find tests -type f -name '*.txt' ! -name 'CMakeLists.txt' ! -name 'commands*.txt' ! -name 'color*.txt' -print0 2>/dev/null)
if [ -n "${FUZZ_EXTRA_SEEDS:-}" ] && [ -d "$FUZZ_EXTRA_SEEDS" ]; then
  while IFS= read -r -d '' file; do scripts+=("$file"); done < <(find "$FUZZ_EXTRA_SEEDS" -type f -print0)
fi

count=0
for file in "${scripts[@]}"; do
  small_enough "$file" || continue
  cp "$file" "$tmp/corpus/fuzz_tokenizer/script-$count"
  # The leading digit picks the mode and the line numbers: cycle through all six.
  add_prefixed "$((count % 6))" "$file" "$tmp/corpus/fuzz_convert/script-$count"
  # Two leading bytes: the encoding, and where the script is cut into two files.
  add_prefixed "$((count % 3))~" "$file" "$tmp/corpus/fuzz_analysis/script-$count"
  count=$((count + 1))
done

configs=0
while IFS= read -r -d '' file; do
  small_enough "$file" || continue
  case "$(basename "$file")" in
    color*) add_prefixed 1 "$file" "$tmp/corpus/fuzz_config/color-$configs" ;;
    *) add_prefixed 0 "$file" "$tmp/corpus/fuzz_config/commands-$configs" ;;
  esac
  configs=$((configs + 1))
done < <(find data tests -type f \( -name 'commands*.txt' -o -name 'color*.txt' \) -print0 2>/dev/null)
echo "fuzz: $count scripts and $configs configuration files added to the seeds"

# ---- Runs -----------------------------------------------------------------

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
read -r -a extra_args <<<"${FUZZ_ARGS:-}"

failed=()
summary=()
for target in "${targets[@]}"; do
  log="$tmp/$target.log"
  echo "fuzz: running $target for $seconds s"
  "$build/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -max_len="$max_len" \
    -dict=fuzz/nscripter.dict -artifact_prefix="$artifacts/$target-" -print_final_stats=1 \
    "${extra_args[@]}" "$tmp/corpus/$target" >"$log" 2>&1
  status=$?

  runs=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
  took=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\2/p' "$log" | tail -n 1)
  last=$(grep -E '^#[0-9]+.*cov: [0-9]+' "$log" | tail -n 1)
  cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.*corp: \([0-9]*\/[0-9A-Za-z]*\).*/\1/p' <<<"$last")
  [ -n "$runs" ] || runs=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$last")
  line="$target: ${runs:-?} executions in ${took:-?} s, cov: ${cov:-?} ft: ${ft:-?}, corpus ${corp:-?}"

  if [ "$status" -ne 0 ] ||
      grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|broken invariant|^SUMMARY: ' "$log"; then
    cp "$log" "$artifacts/$target.log"
    echo "fuzz: $target FAILED (exit status $status); log kept in $artifacts/$target.log" >&2
    # From the first report on: the report, its stack, the input's bytes and where it was saved.
    sed -n '/broken invariant\|ERROR: \|runtime error:/,$p' "$log" | head -n 60 >&2
    failed+=("$target")
    line="$line  FAILED"
  fi
  summary+=("$line")
done

echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]} (inputs in $artifacts)" >&2
  exit 1
fi
echo "fuzz: all targets passed"
