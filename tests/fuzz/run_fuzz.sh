#!/bin/sh
# Fuzzes each target for a fixed time, starting from its corpus (tests/fuzz/corpus/<target>/): the
# regression inputs, by name, and the inputs longer runs found, by hash, which bring a short run at once
# to the coverage those runs reached. Loading the corpus runs every input in it, so a regression input
# that crashes again fails the run. The targets come from the instrumented build of the asan preset,
# configured and built here when needed; inputs that crash are kept in build/asan/fuzz-artifacts/.
# Usage: tests/fuzz/run_fuzz.sh [SECONDS PER TARGET]   (default 20)
#        tests/fuzz/run_fuzz.sh --grow SECONDS         also adds the inputs that reached new coverage to
#                                                      the corpus (commit them)
set -eu
grow=no
if [ "${1:-}" = --grow ]; then
    grow=yes
    shift
fi
seconds="${1:-20}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build/asan"
cd "$root"
[ -f "$build/build.ninja" ] || cmake --preset asan >/dev/null
cmake --build --preset fuzz -j 2

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
for target in partition_walk vdisk_list machine_file; do
    corpus="$root/tests/fuzz/corpus/$target"
    echo "== $target: its corpus, then fuzzing for $seconds s"
    mkdir -p "$work/$target"
    "$build/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$work/$target" "$corpus"
    if [ "$grow" = yes ]; then
        "$build/tests/fuzz/${target}_fuzz" -merge=1 -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
            "$corpus" "$work/$target"
    fi
done
