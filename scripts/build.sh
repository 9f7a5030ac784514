#!/usr/bin/env bash
# Configures and builds Vaultora. Usage: scripts/build.sh [release|asan] (default release).
# The build folder is build-<flavour> in the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-release}
case "$flavour" in
    release) flags=(-DCMAKE_BUILD_TYPE=Release -DVAULTORA_SANITIZE=OFF) ;;
    asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DVAULTORA_SANITIZE=ON) ;;
    *) echo "unknown build flavour: $flavour" >&2; exit 64 ;;
esac
cmake -S . -B "build-$flavour" -G Ninja "${flags[@]}" >/dev/null
cmake --build "build-$flavour" --parallel "$(nproc)"
