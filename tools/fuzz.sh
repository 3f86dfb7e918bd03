#!/usr/bin/env bash
# Builds one libFuzzer target per untrusted reader (fuzz/) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, then runs all of them at once from their seeds
# (fuzz/seeds/<target>/) for FUZZ_SECONDS each (default 60). Any crash, sanitiser report,
# leak, input slower than FUZZ_INPUT_SECONDS or memory above FUZZ_RSS_MB fails the run; the
# input that did it lands in build-fuzz/findings/ (keep it as a seed once mended).
# Arguments name the targets to run (default: all), e.g. tools/fuzz.sh stl_binary obj.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
inputSeconds=${FUZZ_INPUT_SECONDS:-5}
rssMb=${FUZZ_RSS_MB:-2048}
san="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNI_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$san -fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="$san -fsanitize=fuzzer-no-link" \
  -DCMAKE_EXE_LINKER_FLAGS="$san" >/dev/null
cmake --build build-fuzz -j"${FUZZ_BUILD_JOBS:-$(nproc)}"

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tools/sanitizer-leaks.supp:print_suppressions=0
export QT_QPA_PLATFORM=offscreen

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for seeds in fuzz/seeds/*/; do targets+=("$(basename "$seeds")"); done
fi
mkdir -p build-fuzz/findings build-fuzz/logs
pids=()
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t"
  # Qt's JSON parser leaks on repeated keys; whole stacks (slower) let the suppression name it.
  extra=""
  [ "$t" = update_documents ] && extra=:fast_unwind_on_malloc=0
  # New inputs go to build-fuzz/corpus; the committed seeds are only read.
  ASAN_OPTIONS=$ASAN_OPTIONS$extra build-fuzz/fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout="$inputSeconds" -rss_limit_mb="$rssMb" \
    -artifact_prefix="build-fuzz/findings/$t-" -print_final_stats=1 \
    "build-fuzz/corpus/$t" "fuzz/seeds/$t" >"build-fuzz/logs/$t.log" 2>&1 &
  pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
  if wait "${pids[$i]}"; then
    echo "fuzz ${targets[$i]}: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "build-fuzz/logs/${targets[$i]}.log" | grep -o '[0-9]*$') inputs, no finding"
  else
    failed=1
    echo "fuzz ${targets[$i]}: FAILED, see build-fuzz/logs/${targets[$i]}.log"
    grep -v '^#\|^INFO\|^MS:\|^base64' "build-fuzz/logs/${targets[$i]}.log" | tail -40
  fi
done
exit $failed
