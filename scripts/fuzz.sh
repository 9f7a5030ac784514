#!/usr/bin/env bash
# Builds the ZIP reader's libFuzzer harness with clang and runs it over the committed seed
# corpus for a bounded time. Usage: scripts/fuzz.sh [SECONDS] (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVAULTORA_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build-fuzz --target fuzz_ZipReader
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# New inputs go to the scratch corpus; the committed seeds stay as they are. Findings are kept
# in build-fuzz/findings/ for reproduction: build-fuzz/bin/fuzz_ZipReader FILE.
mkdir -p build-fuzz/findings
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    build-fuzz/bin/fuzz_ZipReader -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 "$work" tests/fuzz/corpus
echo "Fuzzing passed ($seconds s)."
