#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: only what is missing is installed, so repeated runs are quick.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libjsoncpp-dev libzstd-dev zlib1g-dev libcurl4-openssl-dev
  libmicrohttpd-dev libmosquitto-dev libdrm-dev
  clang libclang-rt-14-dev
  curl gdb tshark mosquitto ffmpeg iproute2 python3
)

missing=()
for p in "${PACKAGES[@]}"; do
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
# tshark asks whether non-root users may capture; answer no without a prompt.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections || true
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
