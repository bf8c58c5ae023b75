#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Tovimar needs.
# Idempotent: packages that are already installed are skipped.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  qt6-base-dev
  libegl-dev libgl-dev libglu1-mesa-dev libegl-mesa0 libgl1-mesa-dri
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  ffmpeg
  libpng-dev libjpeg62-turbo-dev
  libssl-dev
  libassimp-dev assimp-testmodels
  libopencv-dev python3-opencv python3-numpy nlohmann-json3-dev
  pybind11-dev python3-dev python3-pytest python3-torch
  slurm-wlm munge
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
