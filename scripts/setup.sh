#!/usr/bin/env bash
# Installs, with apt-get, only the Debian packages this project needs that are missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  nettle-dev
  qt6-base-dev libgl-dev
  libgtest-dev googletest
  fonts-dejavu-core fonts-liberation fontconfig
  xvfb xauth
  help2man dpkg-dev file desktop-file-utils bash-completion
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
