#!/usr/bin/env bash
# Builds both targets and runs every test: native unit tests on the simulated machine, the same tests
# under valgrind memcheck and built with AddressSanitizer and UndefinedBehaviorSanitizer, the real DLL
# under Wine, and a short fuzzing run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

stage() {
    echo "== $1 ($(date -u +%H:%M:%S))"
}

stage "native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native -j 2
ctest --preset native -j 2

# One process runs every test: no errors, no memory lost for certain. tests/valgrind.supp holds only
# false alarms of the system libraries.
stage "native tests under valgrind memcheck"
valgrind --tool=memcheck --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
    --show-leak-kinds=definite --suppressions=tests/valgrind.supp --num-callers=30 \
    build/native/tests/unit/unit_tests --gtest_brief=1

# One process runs every test here too: starting an instrumented process per test costs minutes.
stage "native tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan --target unit_tests -j 2
ASAN_OPTIONS=detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
    UBSAN_OPTIONS=print_stacktrace=1 build/asan/tests/unit/unit_tests --gtest_brief=1

stage "mingw build and Wine tests"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j 2
if [ -x tests/wine/run_wine_tests.sh ]; then
    tests/wine/run_wine_tests.sh build/mingw
fi

if [ -x tests/fuzz/run_fuzz.sh ]; then
    stage "fuzzing"
    tests/fuzz/run_fuzz.sh 40
fi
stage "done"
