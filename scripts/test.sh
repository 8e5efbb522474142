#!/usr/bin/env bash
# Builds every target and runs every test: the native unit and tool tests on the simulated machine, the
# unit tests again under valgrind memcheck and with AddressSanitizer and UndefinedBehaviorSanitizer, the
# real DLL under Wine, and a short fuzzing run of each fuzz target.
#
# The builds run one after another, each on both cores, and each tier starts in the background as soon as
# what it needs is built: the single-threaded tiers (valgrind, the sanitized tests, fuzzing) and the one
# that mostly waits (Wine) overlap with the builds. Each step writes its output to build/test-logs/, shown
# whole when a tier ends or a build fails. The run fails when any build or tier fails; the last lines give
# each step's result with its wall and CPU time.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

scripts/install-deps.sh || exit 1

logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"
steps=()
declare -A pids=()
failed=0

file() { echo "$logs/${1// /-}.$2"; }
now() { date -u +%H:%M:%S; }

# Runs "$@" as the step $1 in a subshell of its own, so that its times count its own processes only: its
# output goes to the step's log, its wall, user and system seconds to the step's times, and "ok" or
# "failed" to its status.
run_step() (
    name=$1
    shift
    TIMEFORMAT='%R %U %S'
    status=ok
    { time "$@" >"$(file "$name" log)" 2>&1; } 2>"$(file "$name" times)" || status=failed
    echo "$status" >"$(file "$name" status)"
    [ "$status" = ok ]
)

# A build in the foreground; when it fails its output is shown, and the tiers that need it do not start.
build() {
    steps+=("$1")
    echo "== $1 ($(now))"
    run_step "$@" && return 0
    cat "$(file "$1" log)"
    failed=1
    return 1
}

# A tier in the background.
tier() {
    steps+=("$1")
    echo "== $1 starts ($(now))"
    run_step "$@" &
    pids[$1]=$!
}

# Waits for a tier, then shows its output and its result.
finish() {
    wait "${pids[$1]}"
    local status
    status=$(cat "$(file "$1" status)")
    echo "== $1: $status ($(now))"
    cat "$(file "$1" log)"
    [ "$status" = ok ] || failed=1
}

configure() {
    cmake --preset native && cmake --preset asan && cmake --preset mingw
}

# valgrind runs one thread: two processes share the unit tests between them (gtest sharding), each with
# no error and no memory lost for certain. The fault tables, most of its time, take every fourth point
# here; the native and sanitized runs take them all. tests/valgrind.supp holds only false alarms of the
# system libraries.
memcheck() {
    GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$1 KVPH_FAULT_STRIDE=4 \
        valgrind --tool=memcheck --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
        --show-leak-kinds=definite --suppressions=tests/valgrind.supp --num-callers=30 \
        build/native/tests/unit/unit_tests --gtest_brief=1
}

# The sanitized unit tests in two processes as well: an instrumented process per test costs minutes.
sanitized() {
    GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$1 \
        ASAN_OPTIONS=detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
        UBSAN_OPTIONS=print_stacktrace=1 build/asan/tests/unit/unit_tests --gtest_brief=1
}

if build "configure" configure; then
    # The unit tests first: valgrind, the longest tier, runs them.
    if build "build native unit tests" cmake --build --preset native --target unit_tests -j 2; then
        tier "valgrind shard 1" memcheck 0
        tier "valgrind shard 2" memcheck 1
    fi
    if build "build mingw" cmake --build --preset mingw -j 2; then
        tier "wine" tests/wine/run_wine_tests.sh build/mingw
    fi
    # The sanitized unit tests and the fuzz targets come from one instrumented build.
    if build "build asan and fuzz" cmake --build --preset asan -j 2 \
        --target unit_tests partition_walk_fuzz vdisk_list_fuzz machine_file_fuzz; then
        tier "asan shard 1" sanitized 0
        tier "asan shard 2" sanitized 1
        tier "fuzzing" tests/fuzz/run_fuzz.sh 20
    fi
    if build "build native" cmake --build --preset native -j 2; then
        tier "native tests" ctest --preset native -j 2
    fi
fi

for name in "${steps[@]}"; do
    [ -z "${pids[$name]:-}" ] || finish "$name"
done

echo "== times in seconds: wall, CPU (user + system)"
for name in "${steps[@]}"; do
    read -r wall user sys <"$(file "$name" times)"
    printf '   %-26s %-6s %8s %8s\n' "$name" "$(cat "$(file "$name" status)")" "$wall" \
        "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.1f", u + s }')"
done
if [ "$failed" -ne 0 ]; then
    echo "== FAILED"
    exit 1
fi
echo "== done: every build and tier passed"
