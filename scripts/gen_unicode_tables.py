#!/usr/bin/env python3
"""Writes engine/src/unicode_tables.cc: the code-point sets of the engine's
own character tests, from the files of the Unicode Character Database.

    python3 scripts/gen_unicode_tables.py UCD_DIR engine/src/unicode_tables.cc

UCD_DIR holds UnicodeData.txt, PropList.txt and DerivedCoreProperties.txt of
one Unicode version. The build never runs this script and needs no database:
the output is checked in, and its first lines name the version and the
command that made it. Each set is written twice: as sorted ranges (what the
\\d \\s \\w of patterns expand to) and as a two-stage table for look-ups
(an index of 256-code-point blocks, each block a 256-bit map, equal blocks
stored once). To take a newer version, use the newest that Debian's
unicode-data package offers (its testing suite has it first), e.g.

    apt-get download unicode-data/forky      # with forky in the apt sources
    dpkg-deb -x unicode-data_*_all.deb build/ucd
    python3 scripts/gen_unicode_tables.py build/ucd/usr/share/unicode engine/src/unicode_tables.cc

then update the version that README.md states.

The sets:
  kWhiteSpace    White_Space                                  (\\s, trimming)
  kAlphabetic    Alphabetic                                   (call names)
  kDecimalNumber general category Nd                          (\\d, format)
  kWordCharacter Alphabetic, M, Nd, Pc and Join_Control       (\\w)
  kHexEscaped    Grapheme_Extend, Cc, Cf, Cs, Co, Cn, Zl, Zp and Zs
                 other than U+0020: what debug text writes as \\u{...}
"""

import argparse
import os
import re
import sys

MAX_CODE_POINT = 0x10FFFF


def data_lines(path):
    """(fields, ...) of every data line, comments and blanks dropped."""
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def file_version(path):
    """The version in a UCD file's first line, e.g. "# PropList-17.0.0.txt"."""
    with open(path, encoding="utf-8") as f:
        m = re.match(r"#\s*\w+-(\d+\.\d+\.\d+)\.txt", f.readline())
    if not m:
        sys.exit(f"{path}: no version in its first line")
    return m.group(1)


def parse_range(text):
    lo, _, hi = text.partition("..")
    return int(lo, 16), int(hi or lo, 16)


def binary_properties(path, wanted):
    """{name: set of code points} for the properties in `wanted`."""
    props = {name: set() for name in wanted}
    for fields in data_lines(path):
        if fields[1] in props:
            lo, hi = parse_range(fields[0])
            props[fields[1]].update(range(lo, hi + 1))
    for name, cps in props.items():
        if not cps:
            sys.exit(f"{path}: no code point has {name}")
    return props


def general_categories(path):
    """A list of 0x110000 two-letter categories; unlisted code points are Cn."""
    gc = ["Cn"] * (MAX_CODE_POINT + 1)
    first = None
    for fields in data_lines(path):
        cp, name, cat = int(fields[0], 16), fields[1], fields[2]
        if name.endswith(", First>"):
            first = cp
            continue
        if name.endswith(", Last>"):
            for c in range(first, cp + 1):
                gc[c] = cat
            first = None
            continue
        gc[cp] = cat
    return gc


def to_ranges(cps):
    """Sorted, disjoint, non-adjacent (first, last) ranges of a set."""
    out = []
    for c in sorted(cps):
        if out and out[-1][1] + 1 == c:
            out[-1][1] = c
        else:
            out.append([c, c])
    return [tuple(r) for r in out]


def build_sets(ucd):
    gc = general_categories(os.path.join(ucd, "UnicodeData.txt"))
    prop_list = binary_properties(os.path.join(ucd, "PropList.txt"), ("White_Space", "Join_Control"))
    derived = binary_properties(os.path.join(ucd, "DerivedCoreProperties.txt"), ("Alphabetic", "Grapheme_Extend"))

    def category(*cats):
        return {c for c in range(MAX_CODE_POINT + 1) if gc[c] in cats}

    nd = category("Nd")
    marks = category("Mn", "Mc", "Me")
    word = derived["Alphabetic"] | marks | nd | category("Pc") | prop_list["Join_Control"]
    hex_escaped = (derived["Grapheme_Extend"] | category("Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp")
                   | (category("Zs") - {0x20}))
    return [
        ("kWhiteSpace", "White_Space", prop_list["White_Space"]),
        ("kAlphabetic", "Alphabetic", derived["Alphabetic"]),
        ("kDecimalNumber", "general category Nd", nd),
        ("kWordCharacter", "Alphabetic, M, Nd, Pc and Join_Control", word),
        ("kHexEscaped", "Grapheme_Extend, Cc, Cf, Cs, Co, Cn, Zl, Zp and Zs other than U+0020", hex_escaped),
    ]


BLOCK_BITS = 8  # code points per block of the two-stage table: 256
BLOCK_COUNT = (MAX_CODE_POINT + 1) >> BLOCK_BITS


def two_stage(cps):
    """(index, blocks): index[c >> 8] names the block holding bit c & 255,
    a block being four 64-bit words; equal blocks are stored once."""
    blocks, index = {}, []
    for b in range(BLOCK_COUNT):
        words = [0, 0, 0, 0]
        for c in range(b << BLOCK_BITS, (b + 1) << BLOCK_BITS):
            if c in cps:
                words[(c >> 6) & 3] |= 1 << (c & 63)
        index.append(blocks.setdefault(tuple(words), len(blocks)))
    if len(blocks) > 256:
        sys.exit("more than 256 distinct blocks: the index needs wider entries")
    return index, list(blocks)


def format_items(items, width=120, indent="    "):
    lines, line = [], indent
    for item in items:
        if len(line) + len(item) + 1 > width and line.strip():
            lines.append(line.rstrip())
            line = indent
        line += item + " "
    if line.strip():
        lines.append(line.rstrip())
    return "\n".join(lines)


def render(version, command, sets):
    out = [
        f"// Unicode {version} character tables, generated: do not edit.",
        f"// Made by: {command}",
        "",
        '#include "unicode_tables.h"',
        "",
        "namespace vintrel::unicode {",
        "",
        "namespace {",
    ]
    for name, what, cps in sets:
        index, blocks = two_stage(cps)
        out += [
            "",
            f"// {what}",
            f"constexpr CodePointRange {name}Ranges[] = {{",
            format_items(f"{{0x{lo:04X}, 0x{hi:04X}}}," for lo, hi in to_ranges(cps)),
            "};",
            f"constexpr CodePointSet::Block {name}Blocks[] = {{",
            format_items("{{" + ", ".join(f"0x{w:016X}" for w in words) + "}}," for words in blocks),
            "};",
            f"constexpr uint8_t {name}BlockOf[CodePointSet::kBlockCount] = {{",
            format_items(f"{i}," for i in index),
            "};",
        ]
    out += ["", "}  // namespace", ""]
    for name, _, _ in sets:
        out.append(f"constinit const CodePointSet {name}({name}Ranges, {name}Blocks, {name}BlockOf);")
    out += ["", "}  // namespace vintrel::unicode", ""]
    return "\n".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("ucd", help="folder of the Unicode Character Database files")
    ap.add_argument("output", help="the C++ file to write")
    args = ap.parse_args()

    versions = {file_version(os.path.join(args.ucd, f)) for f in ("PropList.txt", "DerivedCoreProperties.txt")}
    if len(versions) != 1:
        sys.exit(f"{args.ucd}: files of different versions: {sorted(versions)}")
    command = " ".join(["python3", "scripts/gen_unicode_tables.py", args.ucd, args.output])
    text = render(versions.pop(), command, build_sets(args.ucd))
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
