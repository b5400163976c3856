#!/usr/bin/env bash
# Installs what is missing, builds the reader and starts it with the given
# documents.
set -euo pipefail
cd "$(dirname "$0")"

scripts/setup.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELPO_TESTS=OFF -DKELPO_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

if [ ! -x "$build/app/kelpo" ]; then
  echo "The engine is built, but the reader (the window program) is not built yet."
  exit 0
fi
exec "$build/app/kelpo" "$@"
