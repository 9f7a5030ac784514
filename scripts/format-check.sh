#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
((${#files[@]})) || exit 0
clang-format-14 --dry-run --Werror "${files[@]}"
echo "Format check passed (${#files[@]} files)."
