#!/usr/bin/env python3
"""Builds the translation table files from translations.tsv.

translations.tsv is the table people edit: one row per line, columns separated by tabs, the first
line the languages' display names, the second their two-letter codes, then one line per English
text with its translations (an empty or missing cell means "not translated"). Keeping one text per
line lets several people add rows at once and merge them.

Writes into OUTDIR:
  transl.dt   the table in the program's layout: line 0 the number of languages N, then every row
              as N consecutive lines (UTF-8 with byte-order mark, CR LF);
  ~transl.dt  the template for a new language: the same table with one more column whose name and
              code lines are [NEW_LANGUAGE_NAME] and [NEW_LANGUAGE_CODE] and whose texts are empty.

Usage: make_translations.py translations.tsv OUTDIR
"""

import os
import sys


def fail(message):
    sys.stderr.write("make_translations.py: %s\n" % message)
    sys.exit(1)


def read_table(path):
    with open(path, encoding="utf-8-sig") as source:
        lines = source.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if len(lines) < 2:
        fail("%s: needs the names and codes rows" % path)
    rows = []
    width = None
    seen = {}
    for number, line in enumerate(lines, start=1):
        line = line.rstrip("\r")
        cells = line.split("\t")
        if width is None:
            width = len(cells)
        if len(cells) > width:
            fail("%s:%d: %d cells, the header has %d" % (path, number, len(cells), width))
        cells += [""] * (width - len(cells))
        if number > 2:
            english = cells[0]
            if english == "":
                fail("%s:%d: empty English text" % (path, number))
            if english in seen:
                fail("%s:%d: \"%s\" is already on line %d" % (path, number, english, seen[english]))
            seen[english] = number
        elif any(cell == "" for cell in cells):
            fail("%s:%d: every language needs a name and a code" % (path, number))
        rows.append(cells)
    return rows


def write_table(path, rows):
    count = len(rows[0])
    out = [str(count)]
    for row in rows:
        out.extend(row)
    for entry in out:
        if "\n" in entry or "\r" in entry:
            fail("a text holds a line break: %r" % entry)
    data = "\ufeff" + "".join(entry + "\r\n" for entry in out)
    temp = path + ".tmp"
    with open(temp, "w", encoding="utf-8", newline="") as target:
        target.write(data)
    os.replace(temp, path)


def main():
    if len(sys.argv) != 3:
        fail("usage: make_translations.py translations.tsv OUTDIR")
    rows = read_table(sys.argv[1])
    outdir = sys.argv[2]
    os.makedirs(outdir, exist_ok=True)
    write_table(os.path.join(outdir, "transl.dt"), rows)
    template = [rows[0] + ["[NEW_LANGUAGE_NAME]"], rows[1] + ["[NEW_LANGUAGE_CODE]"]]
    template += [row + [""] for row in rows[2:]]
    write_table(os.path.join(outdir, "~transl.dt"), template)


if __name__ == "__main__":
    main()
