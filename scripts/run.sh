#!/usr/bin/env bash
# Builds Lumivex and starts the workbench (installing the system packages it needs).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"

if [ -x build/ui/lumivex ]; then
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found. Start the workbench under a virtual one with:"
    echo "  xvfb-run -a build/ui/lumivex"
    exit 1
  fi
  exec build/ui/lumivex "$@"
fi

# Until the desktop window is built, show the command-line tool at work.
out=$(mktemp -d)/camera-ghe.bmp
build/cli/lumivex-cli ghe samples/camera_512x512.jpg "$out"
echo "Result written to $out"
