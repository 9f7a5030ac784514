#!/usr/bin/env bash
# The main job, headless: builds Vaultora and shows what it does with a sample data folder.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh scripts/packages-build.txt
scripts/build.sh release
cli=build-release/bin/vaultora-cli
demo=$(mktemp -d /tmp/vaultora-demo.XXXXXX)
echo "== Demo data folder: $demo"
# A job file and jobs list written by the independent file tool, as a user's data folder holds them.
python3 - "$demo" <<'PY'
import os, sys
sys.path.insert(0, "tests/tools")
import make_golden, vaultora_files as vf
demo = sys.argv[1]
job = make_golden.files_job("Documents")
with open(os.path.join(demo, "Documents.vld"), "wb") as f:
    f.write(vf.encode_job(job, 5))
with open(os.path.join(demo, "jobslist.vll"), "wb") as f:
    f.write(b"\xef\xbb\xbfDocuments\r\n")
PY
echo "== vaultora-cli list"
"$cli" --data-dir "$demo" list
echo "== vaultora-cli show Documents --json"
"$cli" --data-dir "$demo" show Documents --json
rm -rf "$demo"
