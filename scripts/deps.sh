#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when missing.
# Idempotent; needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  clang libclang-rt-dev
  libgtest-dev libgmock-dev
  zlib1g-dev libdeflate-dev libsqlite3-dev libcurl4-openssl-dev ca-certificates
  libtidy-dev duktape-dev
  libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-wqy-microhei
  libpng-dev libjpeg-dev libgif-dev
  liblitehtml-dev libsdl2-dev
  zip unzip openssl
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

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
