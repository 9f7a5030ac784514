#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) on the C++ sources changed in the last N commits
# (default 1), using the compile commands of build-asan. The whole tree takes about 40 minutes
# on two cores, too long for every CI run; `scripts/tidy.sh all` checks every source.
set -euo pipefail
cd "$(dirname "$0")/.."
range=${1:-1}
[[ -f build-asan/compile_commands.json ]] || { echo "tidy: build-asan is not configured" >&2; exit 2; }
if [[ $range == all ]]; then
    mapfile -t files < <(git ls-files '*.cpp')
else
    # A shallow clone has fewer commits than asked for: take what there is.
    depth=$(git rev-list --count HEAD)
    ((range < depth)) || range=$((depth - 1))
    if ((range > 0)); then
        mapfile -t files < <(git diff --name-only --diff-filter=AMR "HEAD~$range" HEAD -- '*.cpp')
    else
        mapfile -t files < <(git ls-files '*.cpp')
    fi
fi
# Only sources the build compiles (tools' and fuzzers' sources have their own builds).
checked=()
for f in "${files[@]}"; do
    grep -q "\"file\": \"$PWD/$f\"" build-asan/compile_commands.json && checked+=("$f")
done
((${#checked[@]})) || { echo "tidy: no changed sources to check"; exit 0; }
printf '%s\n' "${checked[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy-14 -p build-asan --quiet 2>&1 |
    { grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter' || true; } |
    tee build-asan/tidy.log || true
if grep -q -E ': (warning|error):' build-asan/tidy.log; then
    echo "clang-tidy found problems in ${#checked[@]} changed sources." >&2
    exit 1
fi
echo "clang-tidy passed (${#checked[@]} sources)."
