#!/bin/sh
# Builds the fuzz targets (clang, libFuzzer, ASan, UBSan), replays the kept regression inputs and then
# fuzzes the partition walks for a fixed time. Usage: tests/fuzz/run_fuzz.sh [SECONDS] (default 60).
set -eu
seconds="${1:-60}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${KVPH_FUZZ_BUILD:-$root/build/fuzz}"
corpus="$root/tests/fuzz/corpus"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DKVPH_FUZZ=ON >/dev/null
ninja -C "$build" -j2 partition_walk_fuzz

fuzzer="$build/tests/fuzz/partition_walk_fuzz"
"$fuzzer" "$corpus"/*
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Inputs that crash are kept outside the scratch corpus, which is removed on exit, so that they can be
# added to the regression corpus.
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
"$fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$work" "$corpus"
