#!/usr/bin/env bash
# Builds both targets and runs every test: native unit tests on the simulated machine, the real DLL
# under Wine, and a short fuzzing run of the partition walks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset native >/dev/null
cmake --build --preset native -j 2
ctest --preset native -j 2

cmake --preset mingw >/dev/null
cmake --build --preset mingw -j 2
if [ -x tests/wine/run_wine_tests.sh ]; then
    tests/wine/run_wine_tests.sh build/mingw
fi

if [ -x tests/fuzz/run_fuzz.sh ]; then
    tests/fuzz/run_fuzz.sh
fi
