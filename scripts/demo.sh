#!/usr/bin/env bash
# The main job, headless: builds Vaultora, makes a small sample tree, backs it up fully, changes
# it, backs it up incrementally, restores the latest point into a new folder, checks that the
# restore equals the source, and prints the job log and history.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh scripts/packages-build.txt
scripts/build.sh release
cli=$PWD/build-release/bin/vaultora-cli
demo=$(mktemp -d /tmp/vaultora-demo.XXXXXX)
# Keep the program's own folders (temporary files, logs) inside the demo folder.
export HOME=$demo/home XDG_CACHE_HOME=$demo/home/.cache XDG_CONFIG_HOME=$demo/home/.config
mkdir -p "$HOME" "$demo/source" "$demo/backups"
vcli() { "$cli" --data-dir "$demo/data" "$@"; }
step() { printf '\n== %s\n' "$*"; }

step "A sample tree in $demo/source"
cd "$demo/source"
mkdir -p "Documents/Letters" "Photos/2026" "Empty folder"
printf 'Dear reader,\nthis is a letter.\n' >"Documents/Letters/letter one.txt"
printf 'Notes with ünïcödé\n' >"Documents/notes.md"
head -c 300000 /dev/urandom >"Photos/2026/holiday.jpg"
: >"Documents/empty file"
ln -s "notes.md" "Documents/link to notes"
cd - >/dev/null

step "vaultora-cli new Documents (incremental, local destination)"
vcli new Documents --source "$demo/source" --to "$demo/backups" --type incremental
vcli list

step "vaultora-cli backup Documents  (the first run is a full copy)"
vcli backup Documents

step "Changing the source: one file changed, one added, one deleted"
sleep 1
printf 'A second paragraph.\n' >>"$demo/source/Documents/Letters/letter one.txt"
printf 'New file\n' >"$demo/source/Photos/2026/new.txt"
rm "$demo/source/Documents/notes.md"

step "vaultora-cli backup Documents  (incremental)"
vcli backup Documents

step "vaultora-cli points Documents"
vcli points Documents

step "vaultora-cli restore Documents --to $demo/restored --latest"
vcli restore Documents --to "$demo/restored" --latest

step "Comparing the restore with the source"
if diff -r --no-dereference "$demo/source" "$demo/restored/source"; then
    echo "The restored tree equals the source."
else
    echo "The restored tree differs from the source." >&2
    exit 1
fi

step "vaultora-cli log Documents  (the last run's log)"
vcli log Documents
step "vaultora-cli log Documents --history"
vcli log Documents --history
rm -rf "$demo"
