#!/usr/bin/env bash
# Fuzzes the readers of outside files with libFuzzer, AddressSanitizer and UBSan.
#
#   tools/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#       (TARGET: settings, bin, picture, pipeline, simulator, text; default all)
#   FUZZ_FORK=N tools/fuzz.sh ...
#       runs each target in libFuzzer's fork mode: N child processes at a time, each fuzzing
#       for a short while from the corpus merged so far, so that whatever one process builds up
#       (memory, state in the libraries) never lasts the whole run. It still stops at the first
#       fault and saves its input.
#
# Builds in build-fuzz with clang: the core with the sanitizers and coverage, the targets with
# -fsanitize=fuzzer as well. Each target runs over a copy of fuzz/corpus/<target> in
# build-fuzz/corpus-<target>, where new inputs go too (the seeds in the repository stay as they
# are); a crash, a slow input or a greedy one is written to build-fuzz/crashes-<target>/.
# Exits non-zero when any target found something. A crash worth keeping belongs in
# fuzz/corpus/<target>/ under a regress-* name, where every build replays it under CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(settings bin picture pipeline simulator text)
max_len=${FUZZ_MAX_LEN:-4096}
fork=()
[ -n "${FUZZ_FORK:-}" ] && fork=(-fork="$FUZZ_FORK")
build=build-fuzz

# Qt, libpng and cmake as for the normal build; clang and its libFuzzer runtime on top.
tools/setup.sh clang libclang-rt-dev

# fuzzer-no-link gives the core coverage feedback; only the targets link libFuzzer's main.
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPW_SANITIZE=ON -DPW_FUZZ=ON -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

export QT_QPA_PLATFORM=offscreen
failed=()
for t in "${targets[@]}"; do
  corpus="$build/corpus-$t"
  crashes="$build/crashes-$t"
  mkdir -p "$corpus" "$crashes"
  cp -n fuzz/corpus/"$t"/* "$corpus"/
  # The whole pipeline starts from every picture too.
  [ "$t" = pipeline ] && cp -n fuzz/corpus/picture/* "$corpus"/
  echo "== fuzz_$t: $seconds s${FUZZ_FORK:+, fork mode with $FUZZ_FORK jobs}"
  # -rss_limit_mb also limits any single allocation to the same size. The timeout catches hangs:
  # with the sanitizers and coverage on every line of the core, the largest pictures the
  # loader lets through (64 million pixels, a second in the plain build) take several seconds.
  if ! "$build/fuzz/fuzz_$t" "${fork[@]}" -max_total_time="$seconds" -timeout=15 -rss_limit_mb=1024 -max_len="$max_len" \
       -print_final_stats=1 -artifact_prefix="$crashes/" "$corpus"; then
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: found faults in: ${failed[*]} (inputs in $build/crashes-<target>/)" >&2
  exit 1
fi
echo "fuzz: ${targets[*]}: nothing found in $seconds s each"
