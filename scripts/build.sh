#!/usr/bin/env bash
# Configures and builds Vaultora. Usage: scripts/build.sh [release|asan|headless|package] (default
# release). package is a release build for /usr without the tests that ends in the Debian package
# build-package/vaultora_VERSION_ARCH.deb.
# headless builds every target without the windows (no Widgets), unoptimised, to prove the engines,
# vaultora-cli and their tests stand without them.
# The build folder is build-<flavour> in the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-release}
case "$flavour" in
    release) flags=(-DCMAKE_BUILD_TYPE=Release -DVAULTORA_SANITIZE=OFF -DVAULTORA_TEST_HOOKS=OFF) ;;
    asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DVAULTORA_SANITIZE=ON) ;;
    package) flags=(-DCMAKE_BUILD_TYPE=Release -DVAULTORA_SANITIZE=OFF -DVAULTORA_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr) ;;
    headless) flags=(-DCMAKE_BUILD_TYPE= -DVAULTORA_SANITIZE=OFF -DVAULTORA_BUILD_GUI=OFF) ;;
    *) echo "unknown build flavour: $flavour" >&2; exit 64 ;;
esac
cmake -S . -B "build-$flavour" -G Ninja "${flags[@]}" >/dev/null
cmake --build "build-$flavour" --parallel "$(nproc)"
if [[ $flavour == package ]]; then
    (cd "build-$flavour" && cpack -G DEB)
fi
