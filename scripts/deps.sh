#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages Vexlo32 needs to build, run and test, but only
# those that are missing. Uses sudo when not run as root.
#   --test  also what the tests use;  --fuzz  also what the fuzz targets need;
#   --shot  also what scripts/screenshot.sh takes the picture with
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-multimedia-dev libgl-dev
  libzip-dev zlib1g-dev libarchive-dev
  fonts-dejavu-core
  help2man
)
for option in "$@"; do
  case $option in
  --test)
    # unzip checks archives in the tests; zip and python3 (zipfile) make
    # archives of other writers; strace checks that updates are flushed;
    # xvfb and xauth serve the screenshot script; appstream and
    # desktop-file-utils check the metainfo and the menu entry.
    packages+=(unzip zip python3 strace xvfb xauth appstream desktop-file-utils)
    # The archivers that make the other kinds' fixtures and fuzz seeds; arj
    # also reads ARJ archives at run time when installed.
    packages+=(p7zip-full jlha-utils gcab arj)
    ;;
  --shot)
    packages+=(xvfb xauth imagemagick x11-utils)
    ;;
  --fuzz)
    # The libFuzzer targets (scripts/fuzz.sh) need clang and its runtime;
    # CI also checks the formatting (scripts/format.sh --check).
    packages+=(clang libclang-rt-14-dev clang-format)
    ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}" >&2
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
