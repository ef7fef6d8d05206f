#!/usr/bin/env python3
"""Keeps the walls between the rooms of the code. Every #include of a C++ source or a resource
script that names a file of the tree must point into its own room or into one that its row of the
table in docs/architecture.md allows; the table is the only statement of the walls, and the
README's layout shows them as this check reads them.

    check_layers.py [ROOT]           exit 0 when every arrow is allowed and the README shows the
                                     table; 1 naming each arrow that is not, or the README
    check_layers.py --arrows [ROOT]  prints the rooms and the arrows each may draw, as the
                                     README's layout shows them
"""
import argparse
import os
import re
import sys
from pathlib import Path

ROW = re.compile(r"^\|\s*`(\w+)`\s*\|[^|]*\|([^|]*)\|\s*$")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"]([^">]+)[">])')
SOURCES = {".c", ".cpp", ".h", ".hpp", ".rc"}


def allowed_arrows(table):
    """room -> the rooms it may include, in the table's order (its own room not among them)."""
    rooms = {}
    for line in table.read_text(encoding="utf-8").splitlines():
        if match := ROW.match(line):
            rooms[match[1]] = [to for to in re.findall(r"`(\w+)`", match[2]) if to != match[1]]
    return rooms


def drawing(rooms):
    """One line a room: the room, then the rooms its arrows point to."""
    width = max(map(len, rooms))
    return [f"{room:<{width}} -> {' '.join(to) or 'nothing'}" for room, to in rooms.items()]


def readme_shows(root, lines):
    """Whether the README holds the drawing, its lines one after the other."""
    text = (root / "README.md").read_text(encoding="utf-8")
    readme = [line.rstrip() for line in text.splitlines()]
    return any(readme[at:at + len(lines)] == lines for at in range(len(readme)))


def sources(root):
    for folder, subfolders, files in os.walk(root):
        # Build folders and hidden ones hold no sources of ours.
        subfolders[:] = sorted(d for d in subfolders if not d.startswith((".", "build")))
        for name in sorted(files):
            if os.path.splitext(name)[1] in SOURCES:
                yield Path(folder, name)


def room_of_include(root, rooms, source, quoted, name):
    """The room of an included file as the compiler finds it: "..." beside the including file
    first, then from the top of the tree (where the build looks); None outside the tree."""
    for base in (source.parent, root) if quoted else (root,):
        found = (base / name).resolve()
        if found.is_file():
            return found.relative_to(root).parts[0] if found.is_relative_to(root) else None
    # Not there (yet): judged by the room it is written with, if any.
    parts = Path(name).parts
    return parts[0] if len(parts) > 1 and parts[0] in rooms else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arrows", action="store_true", help="print the rooms and their arrows")
    parser.add_argument("root", nargs="?", default=Path(__file__).parent.parent)
    args = parser.parse_args()
    root = Path(args.root).resolve()
    rooms = allowed_arrows(root / "docs" / "architecture.md")
    if not rooms:
        print("check_layers: no table of rooms in docs/architecture.md")
        return 1
    if args.arrows:
        print("\n".join(drawing(rooms)))
        return 0
    broken = checked = 0
    for source in sources(root):
        path = source.relative_to(root)
        room = path.parts[0]
        if room not in rooms:
            print(f"{path}: in no room of docs/architecture.md")
            broken += 1
            continue
        lines = source.read_text(encoding="utf-8", errors="replace").splitlines()
        for number, line in enumerate(lines, 1):
            if not (match := INCLUDE.match(line)):
                continue
            checked += 1
            to = room_of_include(root, rooms, source, match[1][0] == '"', match[2])
            if to is not None and to != room and to not in rooms[room]:
                allowed = ", ".join(rooms[room]) or "nothing else"
                print(f'{path}:{number}: {room} -> {to} (#include {match[1]}); '
                      f"{room} may include: {allowed}")
                broken += 1
    shown = readme_shows(root, drawing(rooms))
    if not shown:
        print("README.md: its layout does not show the rooms and arrows of docs/architecture.md "
              "as tests/check_layers.py --arrows prints them")
    print(f"check_layers: {checked} includes checked, {broken} broken arrow(s)")
    return 1 if broken or not shown else 0


if __name__ == "__main__":
    sys.exit(main())
