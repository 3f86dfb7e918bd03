#!/usr/bin/env bash
# Builds the program and every test with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# in build-asan/ and runs the whole suite once (under Xvfb, as test.sh does). Arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

san="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$san" -DCMAKE_CXX_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san" >/dev/null
cmake --build build-asan -j"${ASAN_BUILD_JOBS:-$(nproc)}"

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tools/sanitizer-leaks.supp:print_suppressions=0
export LIBGL_ALWAYS_SOFTWARE=1
export QT_QPA_PLATFORM=xcb
# Mesa's libraries are unloaded before the leak check, which then cannot name them for the
# suppressions; loaded from the start they stay.
# awk reads the whole list: a reader that stops early would kill ldconfig with SIGPIPE.
glx=$(ldconfig -p | awk '/libGLX_mesa.so.0 / && !found {print $NF; found = 1}')
mesa="$glx $(dirname "$glx")/dri/swrast_dri.so"
for lib in $mesa; do
  [ -f "$lib" ] || { echo "sanitized-tests: Mesa's $lib not found" >&2; exit 1; }
done
cd build-asan
xvfb-run -a -s "-screen 0 1600x1000x24" env LD_PRELOAD="$mesa" ctest --output-on-failure -j"$(nproc)" "$@"
