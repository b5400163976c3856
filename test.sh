#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test and every fuzz target for a
# short bounded time, and ends with CTest's summary; then builds the worker
# tests and the window's worker test alone with ThreadSanitizer and runs
# them. Exits non-zero on any failure.
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
(cd "$build" && ctest --output-on-failure -j"$(nproc)")

# The worker threads once more under ThreadSanitizer: a build folder of its
# own (no AddressSanitizer) with only the worker tests and the test of the
# window through a worker's run (offscreen). Needs clang.
if ! command -v clang++ >/dev/null 2>&1; then
  echo "test.sh: clang++ not found: the ThreadSanitizer run of the worker tests is skipped."
  exit 0
fi
tsan=build/tsan
cmake -S . -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKELPO_SANITIZE=OFF -DKELPO_WERROR=ON -DKELPO_FUZZ=OFF -DKELPO_BENCH=OFF \
  "-DCMAKE_C_FLAGS=-fsanitize=thread -O1" "-DCMAKE_CXX_FLAGS=-fsanitize=thread -O1" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$tsan" --target app_worker_tests app_owner_tests -j"$(nproc)"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$tsan"/tests/app/app_worker_tests
# The real main window and view through a find and a print pagination.
QT_QPA_PLATFORM=offscreen \
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/app/tsan_qt.supp" \
  "$tsan"/tests/app/app_owner_tests
