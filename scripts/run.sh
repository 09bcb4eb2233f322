#!/usr/bin/env bash
# Builds the desktop workbench into build/ and starts it. Arguments are passed
# on to the program (which opens no file named on its command line).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)" --target lumivex

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: Lumivex is a desktop program and needs a graphical session." >&2
  echo "On a machine without one, start it in a virtual display:" >&2
  echo "    xvfb-run -a -s '-screen 0 1280x900x24' scripts/run.sh" >&2
  exit 1
fi
exec ./build/ui/lumivex "$@"
