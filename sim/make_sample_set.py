#!/usr/bin/env python3
"""Writes a small sample update set: one or more files for every component the program knows,
with deterministic contents, and optionally a KQVorlink.prm.

    python3 sim/make_sample_set.py DIR [--only cpu,logo,...] [--prm "HEADING" [--b2] [--default]]

Also used as a module by the end-to-end tests and the demo.
"""

import argparse
import hashlib
import os
import sys

# Component -> files (name, size in bytes). The names follow the rules by which the program
# assigns files to components; the CPU file's third and fourth characters give version 12, so
# the CPU program is sent once. The 5M FPGA file is larger than one 64 KiB send.
COMPONENTS = {
    "cpu": [("kq12.cpu", 3000)],
    "fpga5m": [("FPGA5M.bin", 70000)],
    "resize": [("RFPGA.bin", 2500)],
    "web0": [("oemindex.htm", 900), ("oemlogo.gif", 1200)],
    "web1": [("index.html", 800), ("top.jpg", 1500)],
    "cursor": [("CURSOR1.bmp", 600), ("BUTTON1.bmp", 700)],
    "icon": [("ICON1.bmp", 650)],
    "shading": [("shade.sdt", 1024)],
    "gamma": [("gamma.tbl", 512)],
    "scene": [("scene1.cst", 300)],
    "logo": [("LOGO.bmp", 3126)],
    "fpga2m": [("TFPGA2M.bin", 4000)],
}

# The order in which a run handles the components, with the id of each one's step label.
RUN_ORDER = [
    ("cpu", 1005),
    ("fpga5m", 1006),
    ("resize", 1007),
    ("web0", 1008),
    ("web1", 1009),
    ("cursor", 1010),
    ("icon", 1011),
    ("shading", 1012),
    ("gamma", 1013),
    ("scene", 1014),
    ("logo", 1021),
    ("fpga2m", 1022),
]


def content(name, size):
    """Deterministic bytes for a file: a hash chain seeded by its name (zero bytes included)."""
    out = bytearray()
    block = name.encode()
    while len(out) < size:
        block = hashlib.sha256(block).digest()
        out += block
    return bytes(out[:size])


def prm_text(heading, b2=False, default=False):
    lines = [heading, "U" if b2 else "A"]
    if default:
        lines.append("D")
    return ("\n".join(lines) + "\n").encode()


def make_set(folder, only=None, prm=None):
    """Writes the components named in `only` (all when None) into `folder`; `prm` is the
    parameter file's bytes or None. Returns {file name: bytes} of the component files."""
    os.makedirs(folder, exist_ok=True)
    written = {}
    for component, files in COMPONENTS.items():
        if only is not None and component not in only:
            continue
        for name, size in files:
            data = content(name, size)
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
            written[name] = data
    if prm is not None:
        with open(os.path.join(folder, "KQVorlink.prm"), "wb") as f:
            f.write(prm)
    return written


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--only", help="comma-separated components: " + ",".join(COMPONENTS))
    parser.add_argument("--prm", help="write a KQVorlink.prm with this heading")
    parser.add_argument("--b2", action="store_true", help="the parameter file selects KQ-B2")
    parser.add_argument("--default", action="store_true", help="ask for the default setting")
    args = parser.parse_args(argv)
    only = None
    if args.only:
        only = set(args.only.split(","))
        unknown = only - set(COMPONENTS)
        if unknown:
            parser.error("unknown component(s): " + ", ".join(sorted(unknown)))
    prm = prm_text(args.prm, args.b2, args.default) if args.prm is not None else None
    written = make_set(args.folder, only, prm)
    for name, data in written.items():
        print("%-14s %7d bytes" % (name, len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
