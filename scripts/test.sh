#!/usr/bin/env bash
# Passes the tests on a fresh Debian 12 machine: installs what is missing, checks the format and
# that every include points down the rooms, checks that the engines stand without the windows,
# builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh scripts/packages-build.txt scripts/packages-test.txt
scripts/format-check.sh
python3 scripts/check-layers.py
# Every configure checks the link graph for Widgets outside the windows (cmake/HeadlessCheck.cmake);
# configuring without the windows keeps that path valid. scripts/build.sh headless builds it whole.
cmake -S . -B build-headless -G Ninja -DVAULTORA_BUILD_GUI=OFF >/dev/null
scripts/build.sh asan
# clang-tidy on the sources of the newest commit (the whole tree is too slow for every run).
scripts/tidy.sh 1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir build-asan --output-on-failure --parallel "$(nproc)" "$@"
# The parsers' fuzzers, briefly, over their seed corpora (a separate clang build).
scripts/fuzz.sh 90
