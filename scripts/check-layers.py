#!/usr/bin/env python3
"""Fails when a room includes a header of a room above it (or of a sibling room on its level).

Every #include "room/..." of the tree is checked against the order below; tests/ and bench/ may use
every room. The order is the one of VAULTORA_ROOMS in the top CMakeLists.txt, with core/ and jobs/
in their own rooms."""
import pathlib
import re
import sys

LEVELS = [
    ["platform"],
    ["core/base"], ["core/settings"], ["core/format"], ["core/model"], ["core/startup"], ["core/schedule"],
    ["archive"], ["net"], ["storage"], ["cloud"],
    ["jobs/report"], ["jobs/files", "jobs/driveimage", "jobs/appdata"], ["jobs"],
    ["tools"], ["shell"], ["ui"], ["app"],
]
FREE = ("tests/", "bench/")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def room_of(path: str):
    """The room a repository path belongs to: the longest room name it starts with."""
    best = None
    for level, rooms in enumerate(LEVELS):
        for room in rooms:
            if path == room or path.startswith(room + "/"):
                if best is None or len(room) > len(best[0]):
                    best = (room, level)
    return best


def main() -> int:
    root = pathlib.Path(__file__).resolve().parent.parent
    faults = []
    for file in sorted(root.rglob("*")):
        if file.suffix not in (".h", ".cpp") or not file.is_file():
            continue
        rel = file.relative_to(root).as_posix()
        if rel.startswith(FREE) or rel.startswith("build") or "/." in "/" + rel:
            continue
        own = room_of(rel)
        if own is None:
            faults.append(f"{rel}: not in any known room")
            continue
        for target in INCLUDE.findall(file.read_text(encoding="utf-8", errors="replace")):
            other = room_of(target)
            if other is None or other[0] == own[0]:
                continue
            if other[1] >= own[1]:
                faults.append(f"{rel}: includes {target} ({other[0]} is not below {own[0]})")
    for fault in faults:
        print(fault)
    if faults:
        print(f"Layer check failed: {len(faults)} include(s) point up or sideways.")
        return 1
    print("Layer check passed: every include points down.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
