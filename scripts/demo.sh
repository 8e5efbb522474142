#!/usr/bin/env bash
# Builds the native kvph tool and runs the library's operations on the built-in simulated machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --native-only
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target kvph >/dev/null

# The host's VHDX drive D:\vd\drive.vhdx is attached on the built-in machine: the disks as the library
# reads them, the presence query, the inventory, and the volume queries. Extra options (--json,
# --machine FILE, --save FILE) are passed on.
vhdx='D:\vd\drive.vhdx'
build/native/tools/kvph/kvph "$@" disks -- exists "$vhdx" -- list -- letter "$vhdx" -- readonly "$vhdx"
