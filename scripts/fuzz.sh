#!/usr/bin/env bash
# Builds the parsers' libFuzzer harnesses with clang (a separate build, build-fuzz) and runs each
# over its seed corpus for a bounded share of the time. Usage: scripts/fuzz.sh [SECONDS [NAME...]]
# SECONDS is the time for all of them (default 80), shared by the weights below; NAMEs (ZipReader,
# JobFile, ...) run only those harnesses, each for its share of SECONDS.
set -euo pipefail
cd "$(dirname "$0")/.."
total=${1:-80}
shift || true
declare -A weight=([ZipReader]=25 [JobFile]=15 [StoredJobFile]=15 [OptionsFile]=10 [ListFile]=5 [Translations]=10 [FtpListing]=5)
names=(ZipReader JobFile StoredJobFile OptionsFile ListFile Translations FtpListing)
if [ $# -gt 0 ]; then
    names=("$@")
fi
targets=()
sum=0
for name in "${names[@]}"; do
    [ -n "${weight[$name]:-}" ] || { echo "unknown harness: $name" >&2; exit 64; }
    targets+=("fuzz_$name")
    sum=$((sum + weight[$name]))
done

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVAULTORA_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build-fuzz --target vaultora_data "${targets[@]}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Seeds: the ZIP reader's committed corpus; for the others, real files of tests/data, the list
# files in tests/fuzz/seeds and the translation table just built.
python3 tests/fuzz/make_seeds.py "$work/seeds" build-fuzz/bin/transl.dt
cp -r tests/fuzz/corpus "$work/seeds/ZipReader"

# New inputs go to scratch folders; the seeds stay as they are. Findings are kept in
# build-fuzz/findings/ for reproduction: build-fuzz/bin/fuzz_NAME FILE. One allocation above
# 512 MiB or a process above 2 GiB is a finding too.
mkdir -p build-fuzz/findings
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
failed=()
for name in "${names[@]}"; do
    seconds=$((total * weight[$name] / sum))
    [ "$seconds" -ge 1 ] || seconds=1
    echo "== fuzz_$name: $seconds s"
    mkdir -p "$work/new/$name"
    if ! build-fuzz/bin/fuzz_"$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -malloc_limit_mb=512 -artifact_prefix=build-fuzz/findings/"$name"- -print_final_stats=1 \
        "$work/new/$name" "$work/seeds/$name"; then
        failed+=("$name")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing found faults in: ${failed[*]} (inputs in build-fuzz/findings/)." >&2
    exit 1
fi
echo "Fuzzing passed ($total s: ${names[*]})."
