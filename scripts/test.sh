#!/usr/bin/env bash
# Builds everything and runs every test: the unit and end-to-end tests of a
# normal build with the check of the MIB modules, each fuzz target for a
# bounded time, and the unit tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
# FUZZ_SECONDS sets the time given to each fuzz target (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
jobs=$(nproc)

echo "== normal build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"

echo "== fuzz targets"
cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DORLA_FUZZ=ON -DORLA_TESTS=OFF -DORLA_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
for fuzzer in build-fuzz/bin/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    corpus=$(mktemp -d)
    seeds=tests/fuzz/corpus/${name#fuzz_}
    echo "-- $name for ${FUZZ_SECONDS:-30} s"
    "$fuzzer" -max_total_time="${FUZZ_SECONDS:-30}" -print_final_stats=0 \
        "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) 2>&1 | tail -n 3
    rm -rf "$corpus"
done

echo "== sanitizer build"
cmake -S . -B build-asan -DORLA_SANITIZE=ON -DORLA_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"

echo "== unit tests under ASan+UBSan"
ctest --test-dir build-asan -L unit --output-on-failure -j"$jobs"

echo "== unit, end-to-end and MIB tests"
ctest --test-dir build --output-on-failure -j"$jobs"
