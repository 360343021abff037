#!/usr/bin/env bash
# Runs the fuzz targets for a fixed time each, one after the other, from the committed seeds.
#
#   fuzz/run.sh SECONDS [TARGET...]     (targets without the "fuzz_" prefix; all when none is named)
#
# FUZZ_BUILD names the build folder (default build-asan). New inputs and findings go to
# $FUZZ_BUILD/fuzz/work/<target>/ (corpus/, artifacts/, log); the committed seeds in fuzz/corpus/
# are only read. Extra libFuzzer options can be passed in FUZZ_FLAGS. Exits non-zero when any target
# found something, after running them all.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?"usage: fuzz/run.sh SECONDS [TARGET...]"}
shift
build=${FUZZ_BUILD:-build-asan}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/fuzz_*.cpp; do
    name=$(basename "$src" .cpp)
    targets+=("${name#fuzz_}")
  done
fi

# The largest input worth trying: a page, a file head with its container directory, a line.
max_len() {
  case "$1" in
    result_extraction) echo 16384 ;;
    type_detection) echo 32768 ;;
    page_decoding) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

# Leaks are findings; undefined behaviour stops the run with a stack.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:check_initialization_order=1:strict_init_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Targets that write files do it in memory when the machine has a memory file system.
scratch=""
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  scratch=$(mktemp -d /dev/shm/lintbay-fuzz.XXXXXX)
  export TMPDIR=$scratch
  trap 'rm -rf "$scratch"' EXIT
fi

failed=()
for target in "${targets[@]}"; do
  exe="$build/fuzz/fuzz_$target"
  work="$build/fuzz/work/$target"
  mkdir -p "$work/corpus" "$work/artifacts"
  args=(-max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=30 -rss_limit_mb=3072
        -print_final_stats=1 -artifact_prefix="$work/artifacts/")
  [ -f "fuzz/dict/$target.dict" ] && args+=(-dict="fuzz/dict/$target.dict")
  # shellcheck disable=SC2206
  args+=(${FUZZ_FLAGS:-})
  start=$SECONDS
  if "$exe" "${args[@]}" "$work/corpus" "fuzz/corpus/$target" >"$work/log" 2>&1; then
    status=ok
  else
    status=FOUND
    failed+=("$target")
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log")
  printf '%-18s %-5s %5d s  %10s runs  %7s exec/s  corpus %s\n' "$target" "$status" $((SECONDS - start)) \
    "${runs:-?}" "${speed:-?}" "$(find "$work/corpus" -type f | wc -l)"
  if [ "$status" != ok ]; then
    # The report: what broke, where, and the input libFuzzer kept.
    grep -v -E '^(#[0-9]+|INFO:|	NEW_FUNC)' "$work/log" | tail -60
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets with findings: ${failed[*]} (inputs in $build/fuzz/work/<target>/artifacts/)"
  exit 1
fi
