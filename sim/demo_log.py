#!/usr/bin/env python3
"""Prints what the demo kept of the program's activity log, safe for a terminal, under a heading
that says what happened: no run, a failed run, or a successful run whose log the program deleted.

    python3 sim/demo_log.py --folder PROGRAM_FOLDER [KEPT_LOG ...]
    python3 sim/demo_log.py --escape FILE

A kept log is a hard link to KQVorlink.log made while the program ran: the program appends to
the file by name and, after a successful run, deletes the name, so the link holds every entry.
The log holds the bytes the program sent and received, telnet option offers included, so every
control byte is printed escaped ("\\xff"), never raw.
"""

import argparse
import os
import re
import sys

LOG_NAME = "KQVorlink.log"
# What the program writes at its start, before any update is asked for.
START_ENTRIES = {"WinSock initialize"}
STAMP = re.compile(r"^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d ", re.M)


def escape(data):
    """The bytes as printable text: line ends become line feeds, every other byte outside
    printable ASCII becomes \\xNN."""
    out = []
    text = data.replace(b"\r\n", b"\n")
    for byte in text:
        if byte == 0x0A or 0x20 <= byte < 0x7F:
            out.append(chr(byte))
        else:
            out.append("\\x%02x" % byte)
    return "".join(out)


def entry_texts(data):
    """The text of each entry (caption and message, without the time stamp)."""
    text = data.decode("latin-1").replace("\r\n", "\n")
    starts = [m.end() for m in STAMP.finditer(text)]
    ends = [m.start() for m in STAMP.finditer(text)][1:] + [len(text)]
    return [text[b:e].strip() for b, e in zip(starts, ends)]


def heading(data, left_in_folder):
    """What the log tells of the program's session, as the line above it."""
    ran = any(entry not in START_ENTRIES for entry in entry_texts(data))
    if not ran:
        return "no update was run: the activity log holds only the program's start"
    if left_in_folder:
        return "activity log of the failed run (the program keeps it only after a failure)"
    return ("activity log of the successful run, as it stood just before the program deleted "
            "it")


def same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def print_kept(folder, kept):
    current = os.path.join(folder, LOG_NAME)
    if not kept:
        print("== the program wrote no activity log (it did not start)")
        return
    for path in kept:
        with open(path, "rb") as f:
            data = f.read()
        print("== " + heading(data, same_file(path, current)))
        sys.stdout.write(escape(data))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--folder", help="the program's folder")
    parser.add_argument("--escape", help="print this file escaped and stop")
    parser.add_argument("kept", nargs="*", help="hard links to the activity log, oldest first")
    args = parser.parse_args(argv)
    if args.escape:
        with open(args.escape, "rb") as f:
            sys.stdout.write(escape(f.read()))
        return 0
    if not args.folder:
        parser.error("--folder is needed")
    print_kept(args.folder, args.kept)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
