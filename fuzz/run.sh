#!/usr/bin/env bash
# `make fuzz`: builds the libFuzzer targets in build-fuzz with clang (every library instrumented
# with -fsanitize=fuzzer-no-link,address,undefined), builds the seed corpora from tests/cases, runs
# each target for FUZZ_SECONDS seconds (default 60), and closes with executions per second and
# corpus size per target. Exits 1 when any target found a crash, leak, timeout or sanitizer report;
# the reproducer is then in build-fuzz/artifacts/<target>/ and the log in build-fuzz/logs/.
#
# Settings (environment):
#   FUZZ_SECONDS       run time per target (default 60)
#   FUZZ_TARGETS       the targets to run (default: roundtrip expand expression preprocess lsp
#                      transport features)
#   FUZZ_KEEP_CORPUS   1: go on from the corpus of the previous run instead of the seeds alone
#   JOBS               build parallelism (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${BUILD_FUZZ:-build-fuzz}
RUN_SECONDS=${FUZZ_SECONDS:-60}
TARGETS=${FUZZ_TARGETS:-roundtrip expand expression preprocess lsp transport features}
JOBS=${JOBS:-2}
SANITIZE="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
SANITIZE+=" -fno-omit-frame-pointer -fsanitize-coverage-ignorelist=$PWD/fuzz/coverage-ignore.txt"

cmake -S . -B "$BUILD" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_CXX_FLAGS="$SANITIZE" \
  -DXMLPP_FUZZ=ON -DBUILD_TESTING=OFF -DXMLPP_BENCH=OFF > /dev/null
cmake --build "$BUILD" -j "$JOBS" --target $(printf 'fuzz_%s ' $TARGETS)

fuzz/seeds.sh "$BUILD/seeds"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$BUILD/logs"
summary=()
failed=0
for target in $TARGETS; do
  corpus=$BUILD/corpus/$target
  artifacts=$BUILD/artifacts/$target
  log=$BUILD/logs/$target.log
  [ "${FUZZ_KEEP_CORPUS:-0}" = 1 ] || rm -rf "$corpus"
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$artifacts"
  options=(-max_total_time="$RUN_SECONDS" -timeout=10 -rss_limit_mb=2048 -max_len=4096
    -dict=fuzz/xmlpp.dict -print_final_stats=1 -artifact_prefix="$artifacts/")
  echo "== fuzz_$target for ${RUN_SECONDS}s (log: $log)"
  status=0
  "$BUILD/fuzz/fuzz_$target" "${options[@]}" "$corpus" "$BUILD/seeds/$target" > "$log" 2>&1 ||
    status=$?
  execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  # The corpus libFuzzer ended with (units/bytes) and its coverage, from its last status line.
  last=$(grep -a -E '^#[0-9]+.* cov: ' "$log" | tail -1)
  size=$(sed -n 's/.* corp: \([^ ]*\).*/\1/p' <<< "$last")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<< "$last")
  if [ "$status" -eq 0 ]; then
    result=clean
  else
    failed=1
    result="FAILED: $(grep -m1 -oE 'ERROR: [A-Za-z]+: [^ ]+( [^ ]+)?|invariant violated: .*' "$log" ||
      echo "exit status $status")"
    for artifact in "$artifacts"/*; do
      [ -e "$artifact" ] && result+=" [$artifact]"
    done
  fi
  summary+=("$(printf '%-16s %7s %11s %21s %5s   %s' "fuzz_$target" "${execs:-?}" "${units:-?}" \
    "${size:-?}" "${cov:-?}" "$result")")
done

echo
printf '%-16s %7s %11s %21s %5s   %s\n' target exec/s executions 'corpus (units/bytes)' cov result
printf '%s\n' "${summary[@]}"
exit "$failed"
