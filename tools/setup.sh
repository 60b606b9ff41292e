#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, only when one is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  googletest libgtest-dev libbenchmark-dev
  juce-modules-source-data
  libsndfile1-dev libflac-dev
  libcurl4-openssl-dev libssl-dev openssl ca-certificates
  libx11-dev libxext-dev libcairo2-dev librsvg2-dev libfreetype-dev libfontconfig-dev
  fonts-roboto-unhinted
  # System fonts for what Roboto lacks: arrows and Hebrew, Thai, CJK (the text tests draw them).
  fonts-dejavu-core fonts-tlwg-garuda-ttf fonts-wqy-microhei
  zenity xdg-utils
  xvfb xauth
  locales
  python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests check that a host's comma locale never reaches the numbers we show or read.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "setup: no German locale; those checks will be skipped"
fi
