#!/usr/bin/env bash
# Builds the native kvph tool and runs the library's operations on the built-in simulated machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --native-only
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target kvph >/dev/null

build/native/tools/kvph/kvph "$@" exists 'D:\vd\drive.vhdx'
