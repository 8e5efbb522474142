#!/usr/bin/env bash
# Builds the native kvph tool and runs `kvph demo`: the host's VHDX drive lives its life on the built-in
# simulated machine. Extra options (--json, --trace, --save FILE) are passed on before the command.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --native-only
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target kvph >/dev/null

build/native/tools/kvph/kvph "$@" demo
