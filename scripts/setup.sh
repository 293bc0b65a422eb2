#!/usr/bin/env bash
# Installs what the build needs on a Debian machine (as root), skipping what is there.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev
          qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev
          libbenchmark-dev xxd
          libbpf-dev bpftool iproute2 iperf3 nethogs python3 trickle util-linux
          nftables ethtool liburing-dev
          xvfb xauth xdotool fonts-dejavu-core)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi
