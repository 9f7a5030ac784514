#!/usr/bin/env bash
# Compares the archive engine's writer with Info-ZIP zip and 7-Zip on a generated corpus:
# wall time and archive size of each, and both as ratios to `zip -r -1`, all from one run.
#
#   bench/zip_bench.sh [quick|full|small]
#     quick: ~150 MiB mixed corpus (default); full: ~1.5 GiB mixed; small: 20,000 files of 0-4 KiB
#
# The corpus generator is shared/bench/gen_corpus.py (GEN_CORPUS overrides its path). Corpora
# and archives go to bench/work/ (ignored by git). "one core" rows run pinned to CPU 0.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-quick}
gen=${GEN_CORPUS:-}
for candidate in "$gen" /work/shared/bench/gen_corpus.py ../shared/bench/gen_corpus.py ../../shared/bench/gen_corpus.py; do
    [[ -n "$candidate" && -f "$candidate" ]] && gen=$candidate && break
done
[[ -f "$gen" ]] || { echo "gen_corpus.py not found; set GEN_CORPUS" >&2; exit 66; }
for tool in zip 7zz taskset; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 69; }
done

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVAULTORA_SANITIZE=OFF >/dev/null
cmake --build build-release --target vaultora-zipbench >/dev/null
ours=$PWD/build-release/bin/vaultora-zipbench

work=$PWD/bench/work
corpus=$work/corpus-$mode
if [[ ! -d "$corpus" ]]; then
    case "$mode" in
        quick) python3 "$gen" --kind mixed --out "$corpus" --files 2000 --dirs 60 --total-gib 0.15 ;;
        full) python3 "$gen" --kind mixed --out "$corpus" ;;
        small) python3 "$gen" --kind small --out "$corpus" --files 20000 --dirs 400 ;;
        *) echo "unknown mode: $mode" >&2; exit 64 ;;
    esac
fi
bytes=$(du -sb "$corpus" | cut -f1)
files=$(find "$corpus" -type f | wc -l)
tar -cf - -C "$corpus" . >/dev/null # warm the page cache so every tool reads from memory

declare -a names times sizes
run() { # name archive command...
    local name=$1 archive=$2
    shift 2
    rm -f "$archive"
    local start end
    start=$(date +%s.%N)
    (cd "$corpus" && "$@" >/dev/null)
    end=$(date +%s.%N)
    names+=("$name")
    times+=("$(echo "$end - $start" | bc -l)")
    sizes+=("$(stat -c %s "$archive")")
}

run "zip -r -1 (one core)" "$work/zip1.zip" taskset -c 0 zip -q -r -1 "$work/zip1.zip" .
run "zip -r -6 (one core)" "$work/zip6.zip" taskset -c 0 zip -q -r -6 "$work/zip6.zip" .
run "7z a -tzip -mx1" "$work/7z1.zip" 7zz a -tzip -bd -mx1 "$work/7z1.zip" .
run "7z a -tzip -mx1 (one core)" "$work/7z1t.zip" taskset -c 0 7zz a -tzip -bd -mx1 -mmt=1 "$work/7z1t.zip" .
run "ours Fastest (one core)" "$work/ours1t.zip" taskset -c 0 "$ours" pack --level fastest --threads 1 "$work/ours1t.zip" .
run "ours Fastest" "$work/ours1.zip" "$ours" pack --level fastest "$work/ours1.zip" .
run "ours Normal (one core)" "$work/ours6t.zip" taskset -c 0 "$ours" pack --level normal --threads 1 "$work/ours6t.zip" .
run "ours Normal" "$work/ours6.zip" "$ours" pack --level normal "$work/ours6.zip" .
run "ours Fastest AES-256" "$work/oursaes.zip" sh -c "echo benchpass | '$ours' pack --level fastest --encryption aes256 '$work/oursaes.zip' ."

echo
echo "Corpus: $mode, $files files, $bytes bytes; $(nproc) cores"
printf '%-30s %10s %14s %12s %12s %10s\n' tool seconds bytes "time/zip-1" "size/zip-1" MB/s
for i in "${!names[@]}"; do
    printf '%-30s %10.2f %14d %12.2f %12.3f %10.1f\n' "${names[$i]}" "${times[$i]}" "${sizes[$i]}" \
        "$(echo "${times[$i]} / ${times[0]}" | bc -l)" "$(echo "${sizes[$i]} / ${sizes[0]}" | bc -l)" \
        "$(echo "$bytes / ${times[$i]} / 1000000" | bc -l)"
done
