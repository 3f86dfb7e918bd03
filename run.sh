#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts the program (under Xvfb without a display).
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1600x1000x24" build/tarni "$@"
fi
exec build/tarni "$@"
