#!/usr/bin/env bash
# Runs the benchmark table: Vaultora against cp, rsync, zip, 7-Zip, smbclient and lftp, side by side in one run.
#
#   bench/run.sh [--quick | --tiny] [--no-build] [bench.py options...]
#
# Full mode (default) uses corpus A (20,000 files, 1.5 GiB) and corpus B (200,000 small files),
# takes about half an hour on two cores and updates the README's Performance section; --quick
# uses corpora a tenth of the size. Corpora are generated once and cached in the work folder
# (VAULTORA_BENCH_DIR, default bench/work); the table goes to bench/results/.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=full
build=1
args=()
for arg in "$@"; do
    case "$arg" in
        --quick) mode=quick ;;
        --tiny) mode=tiny ;;
        --no-build) build=0 ;;
        *) args+=("$arg") ;;
    esac
done
missing=()
command -v rsync >/dev/null || missing+=(rsync)
command -v zip >/dev/null || missing+=(zip)
command -v 7zz >/dev/null || missing+=(7zip)
[[ -x /usr/bin/time ]] || missing+=(time)
command -v lftp >/dev/null || missing+=(lftp)
if ((${#missing[@]})); then
    if [[ $(id -u) -eq 0 ]]; then
        apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "bench: install ${missing[*]} first" >&2
        exit 69
    fi
fi
if ((build)); then
    scripts/build.sh release >/dev/null
fi
extra=()
[[ $mode == full ]] && extra+=(--update-readme)
exec python3 bench/bench.py --mode "$mode" "${extra[@]}" "${args[@]}"
