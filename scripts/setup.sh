#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the peers need.
# Idempotent: asks apt only for what is missing, and runs `apt-get update`
# once before installing. Works as root, and through sudo otherwise.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
  # libraries the engine links
  libpcre2-dev
  # tests, benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # peers used as test oracles
  zlib1g-dev libdeflate-dev libjpeg-dev python3 gzip zip unzip coreutils grep netpbm txt2pdbdoc
  libc-bin icu-devtools poppler-utils libpalm-perl xdg-user-dirs dos2unix
  # locale sources: tests make a Latin-1 locale of their own with localedef
  locales
  # real text for the decoding benchmarks (the editor's help files)
  vim-runtime
  # a real photograph for the DCT benchmark
  xplanet-images
  # front end
  qt6-base-dev libgl-dev fonts-dejavu-core
  # the reader under a virtual X server, and its screenshots; a small window
  # manager and the tools that drive and measure the reader's window there
  xvfb xauth imagemagick blackbox xdotool x11-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
