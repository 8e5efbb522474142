#!/bin/sh
# Builds the fuzz targets (clang, libFuzzer, ASan, UBSan), replays each target's kept regression inputs
# (corpus/<target>/) and then fuzzes each target for a fixed time.
# Usage: tests/fuzz/run_fuzz.sh [SECONDS PER TARGET] (default 40).
set -eu
seconds="${1:-40}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${KVPH_FUZZ_BUILD:-$root/build/fuzz}"
targets="partition_walk vdisk_list machine_file"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DKVPH_FUZZ=ON >/dev/null
for target in $targets; do
    ninja -C "$build" -j2 "${target}_fuzz"
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Inputs that crash are kept outside the scratch corpus, which is removed on exit, so that they can be
# added to the regression corpus.
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
for target in $targets; do
    fuzzer="$build/tests/fuzz/${target}_fuzz"
    corpus="$root/tests/fuzz/corpus/$target"
    echo "== $target: regression inputs"
    "$fuzzer" -timeout=10 -rss_limit_mb=2048 "$corpus"/*
    echo "== $target: fuzzing for $seconds s"
    mkdir -p "$work/$target"
    "$fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$work/$target" "$corpus"
done
