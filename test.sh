#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test and every fuzz target for a
# short bounded time, and ends with CTest's summary. Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")"

scripts/setup.sh

build=build/test
compiler=()
fuzz=OFF
if command -v clang++ >/dev/null 2>&1; then
  compiler=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
  fuzz=ON
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  "${compiler[@]}" -DKELPO_SANITIZE=ON -DKELPO_WERROR=ON -DKELPO_FUZZ="$fuzz" \
  -DKELPO_FUZZ_SECONDS="${KELPO_FUZZ_SECONDS:-10}" >/dev/null
cmake --build "$build" -j"$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j"$(nproc)"
