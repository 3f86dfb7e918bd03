#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (widget and OpenGL tests under Xvfb,
# with Mesa's software renderer). Without arguments it then fuzzes every file reader for a
# minute each and runs the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer; arguments go to ctest and run the normal build's tests only.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh
(
  export LIBGL_ALWAYS_SOFTWARE=1
  export QT_QPA_PLATFORM=xcb
  cd build
  xvfb-run -a -s "-screen 0 1600x1000x24" ctest --output-on-failure -j"$(nproc)" "$@"
)
[ $# -gt 0 ] && exit 0
tools/fuzz.sh
tools/sanitized-tests.sh
