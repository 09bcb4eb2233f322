#!/usr/bin/env bash
# Builds Lumivex and runs every test: the unit and GUI tests, then the unit
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer, then a
# bounded fuzzing run over the image decoder where clang is available.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== Release build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMIVEX_SANITIZE=ON \
  -DLUMIVEX_BUILD_GUI=OFF -DLUMIVEX_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

if command -v clang++ >/dev/null 2>&1 && [ -f fuzz/CMakeLists.txt ]; then
  echo "== Fuzzing the image decoder (bounded)"
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMIVEX_FUZZ=ON \
    -DLUMIVEX_BUILD_GUI=OFF -DLUMIVEX_BUILD_BENCH=OFF -DLUMIVEX_BUILD_TESTS=OFF
  cmake --build build-fuzz -j "$jobs" --target fuzz_decode
  corpus=$(mktemp -d)
  find tests/data -type f \( -name '*.bmp' -o -name '*.jpg' -o -name '*.jpeg' \) -exec cp {} "$corpus" \;
  ./build-fuzz/fuzz/fuzz_decode -max_total_time="${LUMIVEX_FUZZ_SECONDS:-60}" -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 "$corpus" > build-fuzz/fuzz.log 2>&1 || { tail -50 build-fuzz/fuzz.log; exit 1; }
  tail -3 build-fuzz/fuzz.log
  rm -rf "$corpus"
fi
echo "All tests passed."
