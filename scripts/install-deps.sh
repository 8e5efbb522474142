#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, when any is missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang lld llvm libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine wine64
          googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev fdisk gdisk valgrind)
if [ "${1:-}" = "--native-only" ]; then
    packages=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
