#!/usr/bin/env bash
# Installs the Debian packages listed in the given files when any of them is missing.
# Usage: scripts/install-deps.sh LIST [LIST...]
set -euo pipefail
cd "$(dirname "$0")/.."
wanted=()
for list in "$@"; do
    while read -r pkg; do
        [[ -z "$pkg" || "$pkg" == \#* ]] && continue
        wanted+=("$pkg")
    done <"$list"
done
missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    if [[ $(id -u) -ne 0 ]]; then
        SUDO=sudo
    else
        SUDO=
    fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
