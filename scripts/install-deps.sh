#!/usr/bin/env bash
# Installs the Debian packages the project builds with. Does nothing when all
# are present; refreshes the package lists only before installing something.
# Usage: scripts/install-deps.sh [--fuzz]   (--fuzz adds clang-19 and libFuzzer)
set -euo pipefail

packages=(cmake g++ ninja-build pkg-config zstd libzstd-dev libfmt-dev libspdlog-dev
          libcli11-dev nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev)
if [[ "${1:-}" == "--fuzz" ]]; then
  packages+=(clang-19 libclang-rt-19-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
