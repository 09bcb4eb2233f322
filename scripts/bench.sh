#!/usr/bin/env bash
# Measures every command against the nearest OpenCV operation and rewrites the
# performance table of README.md (between <!-- perf:start --> and <!-- perf:end -->).
#
# OpenCV (libopencv-dev) is needed by the comparison program only, never by
# Lumivex itself; it is installed here when missing (Debian, as root or with sudo).
# Extra arguments go to the comparison program, e.g. --reps 3.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! dpkg-query -W -f='${Status}' libopencv-dev 2>/dev/null | grep -q "install ok installed"; then
  echo "Installing libopencv-dev for the comparison"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends libopencv-dev
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)" --target lumivex_bench lumivex_compare lumivex-cli

cores=$(nproc)
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
table=$(mktemp)
trap 'rm -f "$table"' EXIT

# The console table goes to the terminal (stderr) as it is measured.
build/bench/lumivex_compare --markdown "$@" > "$table"
opencv=$(pkg-config --modversion opencv4 2>/dev/null || echo "?")
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build/CMakeCache.txt)
compiler_version=$("$compiler" --version | head -1)

block=$(mktemp)
trap 'rm -f "$table" "$block"' EXIT
{
  echo "<!-- perf:start -->"
  echo "Measured $(date -u +%Y-%m-%d) by \`bash scripts/bench.sh\` on ${cpu}, ${cores} cores (\`nproc\`),"
  echo "Release build with ${compiler_version}, OpenCV ${opencv}. Other work on the machine slows both"
  echo "sides of a pair alike, but it makes the milliseconds vary from run to run and weighs most on the"
  echo "all-cores figures."
  echo
  cat "$table"
  echo "<!-- perf:end -->"
} > "$block"

if ! grep -q '^<!-- perf:start -->$' README.md || ! grep -q '^<!-- perf:end -->$' README.md; then
  echo "README.md has no <!-- perf:start --> / <!-- perf:end --> markers; the table was:" >&2
  cat "$block" >&2
  exit 1
fi
awk -v block="$block" '
  /^<!-- perf:start -->$/ { while ((getline line < block) > 0) print line; skipping = 1; next }
  /^<!-- perf:end -->$/ { skipping = 0; next }
  !skipping { print }
' README.md > README.md.new
mv README.md.new README.md
echo "README.md: performance table rewritten"
