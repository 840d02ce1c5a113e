#!/usr/bin/env python3
"""Where the bytes of a linked image come from, read from the GNU ld map of its link.

    size_map.py MAP [TOP]

Sums every input section the linker kept by what it went into - code (.text), read-only
data (.rdata), unwind tables (.pdata and .xdata on 64-bit Windows, .eh_frame and
.gcc_except_table with DWARF unwinding) and other data - and by where it came from: the
library (an archive, shown by its file name, or "objects" for the image's own object
files) and the object file or archive member. Prints the totals, then the TOP entries
(default 12) of each kind by library and by object.
"""
import collections
import os
import re
import sys


def kind_of(output_section):
    if output_section.startswith(".text"):
        return "code"
    if output_section.startswith(".rdata"):
        return "rodata"
    if output_section in (".pdata", ".xdata", ".eh_frame", ".gcc_except_table"):
        return "unwind"
    if output_section.startswith((".data", ".bss", ".tls", ".CRT", ".idata", ".edata", ".rsrc", ".reloc")):
        return "data"
    return None


# An input section: " NAME  0xADDRESS  0xSIZE  FILE", or its name alone on a line when it is
# long and the rest on the next one.
INPUT = re.compile(r"^ (\S+)\s+0x[0-9a-fA-F]+\s+0x([0-9a-fA-F]+)\s+(\S.*)$")
NAME_ONLY = re.compile(r"^ (\S+)$")
REST = re.compile(r"^\s+0x[0-9a-fA-F]+\s+0x([0-9a-fA-F]+)\s+(\S.*)$")
OUTPUT = re.compile(r"^(\.\S+)(?:\s+0x[0-9a-fA-F]+\s+0x[0-9a-fA-F]+.*)?$")
MEMBER = re.compile(r"^(.*)\((.*)\)$")


def origin(path):
    """(library, object) of an input file: an archive member or one of the image's objects."""
    m = MEMBER.match(path)
    if m:
        return os.path.basename(m.group(1)), os.path.basename(m.group(1)) + ":" + m.group(2)
    return "objects", os.path.basename(path)


def read_map(lines):
    sizes = collections.defaultdict(int)  # (kind, library, object) -> bytes
    in_map = False
    output = None
    pending = None
    for line in lines:
        line = line.rstrip("\n")
        if not in_map:
            in_map = line.startswith("Linker script and memory map")
            continue
        if pending is not None:
            m = REST.match(line)
            if m:
                record(sizes, output, pending, int(m.group(1), 16), m.group(2))
            pending = None
            continue
        m = OUTPUT.match(line)
        if m:
            output = m.group(1)
            continue
        m = INPUT.match(line)
        if m:
            if not m.group(1).startswith("*"):
                record(sizes, output, m.group(1), int(m.group(2), 16), m.group(3))
            continue
        m = NAME_ONLY.match(line)
        if m and not m.group(1).startswith("*"):
            pending = m.group(1)
    return sizes


def record(sizes, output, _section, size, path):
    kind = kind_of(output or "")
    if kind is None or size == 0:
        return
    library, obj = origin(path.strip())
    sizes[(kind, library, obj)] += size


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: size_map.py MAP [TOP]")
    top = int(sys.argv[2]) if len(sys.argv) > 2 else 12
    with open(sys.argv[1], encoding="utf-8", errors="replace") as f:
        sizes = read_map(f)
    if not sizes:
        sys.exit("no input sections found in " + sys.argv[1])
    kinds = ("code", "rodata", "unwind", "data")
    totals = collections.Counter()
    for (kind, _, _), size in sizes.items():
        totals[kind] += size
    print("  " + ", ".join(f"{k} {totals[k]:,}" for k in kinds) + " bytes (before file alignment)")
    for kind in kinds[:3]:
        if not totals[kind]:
            continue
        by_library = collections.Counter()
        by_object = collections.Counter()
        for (k, library, obj), size in sizes.items():
            if k == kind:
                by_library[library] += size
                by_object[obj] += size
        print(f"  {kind}: top libraries")
        for name, size in by_library.most_common(top):
            print(f"    {size:>10,}  {100.0 * size / totals[kind]:5.1f}%  {name}")
        print(f"  {kind}: top objects")
        for name, size in by_object.most_common(top):
            print(f"    {size:>10,}  {100.0 * size / totals[kind]:5.1f}%  {name}")


if __name__ == "__main__":
    main()
