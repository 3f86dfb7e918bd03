#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (widget and OpenGL tests under Xvfb,
# with Mesa's software renderer).
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh
export LIBGL_ALWAYS_SOFTWARE=1
export QT_QPA_PLATFORM=xcb
cd build
exec xvfb-run -a -s "-screen 0 1600x1000x24" ctest --output-on-failure -j"$(nproc)" "$@"
