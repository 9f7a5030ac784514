#!/usr/bin/env bash
# Regenerates the fuzzer's seed corpus: small archives from our writer and from 7-Zip, zip and
# bsdtar (password "password" where encrypted). Usage: tests/fuzz/make_corpus.sh BENCH_TOOL
set -euo pipefail
cd "$(dirname "$0")"
tool=$(realpath "$1")
out=$PWD/corpus
rm -rf "$out" && mkdir -p "$out"
src=$(mktemp -d)
trap 'rm -rf "$src"' EXIT
mkdir -p "$src/dir/sub"
printf 'hello hello hello hello\n' >"$src/dir/a.txt"
printf 'x' >"$src/dir/sub/b.bin"
: >"$src/empty"
ln -s dir/a.txt "$src/link"
for level in none fastest; do
    for enc in none aes128 aes256 zipcrypto; do
        echo password | "$tool" pack --level "$level" --encryption "$enc" "$out/ours-$level-$enc.zip" "$src" >/dev/null
    done
done
(cd "$src" && 7zz a -tzip -bd -mx5 "$out/7z-deflate.zip" dir empty >/dev/null)
(cd "$src" && 7zz a -tzip -bd -mem=AES256 -ppassword "$out/7z-aes256.zip" dir >/dev/null)
(cd "$src" && 7zz a -tzip -bd -mem=ZipCrypto -ppassword "$out/7z-zipcrypto.zip" dir >/dev/null)
(cd "$src" && zip -qr -fz "$out/zip-zip64.zip" dir)
(cd "$src" && zip -qr -fz - dir >"$out/zip-streamed.zip")
(cd "$src" && zip -qry -P password "$out/zip-zipcrypto.zip" dir link)
(cd "$src" && bsdtar --format zip -cf "$out/bsdtar.zip" dir link)
ls -l "$out"
