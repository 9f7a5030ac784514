#!/usr/bin/env python3
"""Writes the seed corpora of the parsers' fuzzing harnesses into OUT/<harness>/ from real files:
the golden job files and stored job files of tests/data/jobfiles (every version and kind), options
files of every format version built from tests/data/options/record.json, the list files in
tests/fuzz/seeds/ListFile (written by a real backup run) and the translation table the build
generates. The job and options harnesses take the plain image inside the file envelope, so those
seeds are stored opened.

Usage: make_seeds.py OUT TRANSL_DT
"""
import json
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(TESTS, "tools"))
import options_file  # noqa: E402
import vaultora_files  # noqa: E402


def put(out, harness, name, data):
    folder = os.path.join(out, harness)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 64
    out, transl = argv
    jobfiles = os.path.join(TESTS, "data", "jobfiles")
    for name in sorted(os.listdir(jobfiles)):
        harness = {".vld": "JobFile", ".vlj": "StoredJobFile"}.get(os.path.splitext(name)[1])
        if harness:
            with open(os.path.join(jobfiles, name), "rb") as f:
                put(out, harness, name, vaultora_files.unseal(f.read()))
    with open(os.path.join(TESTS, "data", "options", "record.json"), encoding="utf-8") as f:
        record = json.load(f)
    for version in range(1, 9):
        put(out, "OptionsFile", f"options-v{version}.vlo", options_file.unseal(options_file.encode(record, version)))
    lists = os.path.join(HERE, "seeds", "ListFile")
    for name in sorted(os.listdir(lists)):
        with open(os.path.join(lists, name), "rb") as f:
            put(out, "ListFile", name, f.read())
    listings = os.path.join(HERE, "seeds", "FtpListing")
    for name in sorted(os.listdir(listings)):
        with open(os.path.join(listings, name), "rb") as f:
            put(out, "FtpListing", name, f.read())
    with open(transl, "rb") as f:
        put(out, "Translations", "transl.dt", f.read())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
