#!/usr/bin/env bash
# Installs what building and testing ceosalosj needs on Debian 12, skipping
# packages that are already there.  Needs root (or sudo) only when something
# is missing.
set -euo pipefail

packages=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev
          clang libclang-rt-14-dev
          libgdal-dev gdal-bin python3-gdal python3-rasterio python3-jsonschema python3-distributed libcli11-dev nlohmann-json3-dev
          libdeflate-dev
          libeigen3-dev libopencv-calib3d-dev
          dpkg-dev file pkgconf)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  . "$(dirname "$0")/apt.sh"
  apt_update || echo "apt-get update failed: installing from the indexes that were read" >&2
  apt_install "${missing[@]}"
fi
