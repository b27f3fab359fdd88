#!/usr/bin/env python3
"""Writes src/text/unicode_tables.cpp from the Unicode Character Database.

Usage: gen_unicode_tables.py [--ucd /usr/share/unicode] --output FILE

Reads UnicodeData.txt, SpecialCasing.txt, PropList.txt, EastAsianWidth.txt,
DerivedCoreProperties.txt and emoji/emoji-variation-sequences.txt. The output
depends on nothing but these files, so a re-run on the same data gives the
same bytes (a unit test checks that the committed file is up to date).
"""

import argparse
import os
import sys

MAX_CODE_POINT = 0x10FFFF


def data_lines(path):
    """Yields the fields of each data line, comments and blanks removed."""
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def parse_range(text):
    if ".." in text:
        first, last = text.split("..")
        return int(first, 16), int(last, 16)
    return int(text, 16), int(text, 16)


def property_set(path, name):
    result = set()
    for fields in data_lines(path):
        if fields[1] == name:
            first, last = parse_range(fields[0])
            result.update(range(first, last + 1))
    return result


def general_categories(ucd):
    """Code point -> general category, with the First/Last ranges expanded."""
    categories = {}
    range_start = None
    for fields in data_lines(os.path.join(ucd, "UnicodeData.txt")):
        code, name, category = int(fields[0], 16), fields[1], fields[2]
        if name.endswith(", First>"):
            range_start = code
            continue
        if name.endswith(", Last>"):
            for c in range(range_start, code + 1):
                categories[c] = category
            range_start = None
            continue
        categories[code] = category
    return categories


def wide_set(ucd):
    # Unlisted code points in the CJK blocks and planes 2 and 3 default to W.
    widths = {}
    for first, last in ((0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF),
                        (0x20000, 0x2FFFD), (0x30000, 0x3FFFD)):
        for c in range(first, last + 1):
            widths[c] = "W"
    for fields in data_lines(os.path.join(ucd, "EastAsianWidth.txt")):
        first, last = parse_range(fields[0])
        for c in range(first, last + 1):
            widths[c] = fields[1]
    return {c for c, w in widths.items() if w in ("W", "F")}


def zero_width_set(ucd, categories):
    """Combining marks, invisible format characters, Hangul medial/final jamo."""
    prepended = property_set(os.path.join(ucd, "PropList.txt"), "Prepended_Concatenation_Mark")
    zero = set()
    for c, category in categories.items():
        if category in ("Mn", "Me"):
            zero.add(c)
        # Format characters are invisible, except the soft hyphen (terminals
        # show a hyphen) and the Arabic/Syriac number signs, which are drawn.
        elif category == "Cf" and c != 0x00AD and c not in prepended:
            zero.add(c)
    # Medial vowels and final consonants join the preceding initial jamo.
    zero.update(range(0x1160, 0x11FF + 1))
    zero.update(range(0xD7B0, 0xD7FF + 1))
    # Variation selectors, whatever their category.
    zero.update(range(0xFE00, 0xFE0F + 1))
    zero.update(range(0xE0100, 0xE01EF + 1))
    return zero


def format_or_separator_set(categories):
    """Format characters (Cf) and the line and paragraph separators (Zl, Zp):
    invisible, or breaking a line, wherever they stand."""
    return {c for c, category in categories.items() if category in ("Cf", "Zl", "Zp")}


def emoji_style_bases(ucd):
    bases = set()
    path = os.path.join(ucd, "emoji", "emoji-variation-sequences.txt")
    for fields in data_lines(path):
        sequence = [int(x, 16) for x in fields[0].split()]
        if len(sequence) == 2 and sequence[1] == 0xFE0F and fields[1] == "emoji style":
            bases.add(sequence[0])
    return bases


def lower_mappings(ucd):
    """Code point -> tuple of code points, where lower-casing changes it."""
    mappings = {}
    for fields in data_lines(os.path.join(ucd, "UnicodeData.txt")):
        if fields[13]:
            mappings[int(fields[0], 16)] = (int(fields[13], 16),)
    for fields in data_lines(os.path.join(ucd, "SpecialCasing.txt")):
        condition = fields[4] if len(fields) > 4 else ""
        if condition:
            continue  # Final_Sigma is done in code; language rules are not wanted
        code = int(fields[0], 16)
        lower = tuple(int(x, 16) for x in fields[1].split())
        if lower == (code,):
            mappings.pop(code, None)
        else:
            mappings[code] = lower
    return mappings


def not_canonically_stable_set(ucd):
    """Code points that NFD changes or moves: a canonical decomposition or a
    non-zero combining class. A text without them is its own NFD, so two
    such texts that differ are never canonically equivalent."""
    changed = set(range(0xAC00, 0xD7A3 + 1))  # Hangul syllables decompose by rule
    for fields in data_lines(os.path.join(ucd, "UnicodeData.txt")):
        decomposition, combining_class = fields[5], fields[3]
        if (decomposition and not decomposition.startswith("<")) or combining_class != "0":
            changed.add(int(fields[0], 16))
    return changed


def to_ranges(code_points):
    ranges = []
    for c in sorted(code_points):
        if ranges and ranges[-1][1] == c - 1:
            ranges[-1][1] = c
        else:
            ranges.append([c, c])
    return ranges


def width_ranges(wide, zero):
    # Zero wins over wide: a combining mark in a CJK block takes no column.
    widths = {c: 2 for c in wide}
    widths.update({c: 0 for c in zero})
    ranges = []
    for c in sorted(widths):
        w = widths[c]
        if ranges and ranges[-1][1] == c - 1 and ranges[-1][2] == w:
            ranges[-1][1] = c
        else:
            ranges.append([c, c, w])
    return ranges


def lower_runs(single):
    """Runs of code points with the same delta, stepping by 1 or 2."""
    runs = []
    for c in sorted(single):
        delta = single[c] - c
        if runs:
            first, last, run_delta, stride = runs[-1]
            if run_delta == delta:
                if first == last and c - last in (1, 2):
                    runs[-1] = [first, c, delta, c - last]
                    continue
                if c - last == stride:
                    runs[-1][1] = c
                    continue
        runs.append([c, c, delta, 1])
    return runs


def hex_cp(c):
    return "0x%04X" % c


def emit_ranges(out, name, ranges):
    out.append("constexpr Range %s_TABLE[] = {" % name)
    for first, last in ranges:
        out.append("    {%s, %s}," % (hex_cp(first), hex_cp(last)))
    out.append("};")
    out.append("")


def generate(ucd):
    categories = general_categories(ucd)
    prop_list = os.path.join(ucd, "PropList.txt")
    derived = os.path.join(ucd, "DerivedCoreProperties.txt")

    white_space = to_ranges(property_set(prop_list, "White_Space"))
    cased = to_ranges(property_set(derived, "Cased"))
    case_ignorable = to_ranges(property_set(derived, "Case_Ignorable"))
    widths = width_ranges(wide_set(ucd), zero_width_set(ucd, categories))
    emoji = to_ranges(emoji_style_bases(ucd))
    not_stable = to_ranges(not_canonically_stable_set(ucd))
    format_or_separator = to_ranges(format_or_separator_set(categories))
    mappings = lower_mappings(ucd)
    single = {c: m[0] for c, m in mappings.items() if len(m) == 1}
    expansions = {c: m for c, m in mappings.items() if len(m) > 1}
    if any(len(m) > 3 for m in expansions.values()):
        sys.exit("a lower-case expansion is longer than three code points")

    out = [
        "// Generated by tools/gen_unicode_tables.py from the Unicode Character",
        "// Database; do not edit. Re-run the script to update.",
        '#include "text/unicode_tables.h"',
        "",
        "namespace sorvane::text::tables {",
        "namespace {",
        "",
    ]
    emit_ranges(out, "WHITE_SPACE", white_space)
    emit_ranges(out, "CASED", cased)
    emit_ranges(out, "CASE_IGNORABLE", case_ignorable)
    emit_ranges(out, "EMOJI_STYLE_BASE", emoji)
    emit_ranges(out, "NOT_CANONICALLY_STABLE", not_stable)
    emit_ranges(out, "FORMAT_OR_SEPARATOR", format_or_separator)

    out.append("constexpr WidthRange WIDTHS_TABLE[] = {")
    for first, last, w in widths:
        out.append("    {%s, %s, %d}," % (hex_cp(first), hex_cp(last), w))
    out.append("};")
    out.append("")

    out.append("constexpr LowerRun LOWER_RUNS_TABLE[] = {")
    for first, last, delta, stride in lower_runs(single):
        out.append("    {%s, %s, %d, %d}," % (hex_cp(first), hex_cp(last), delta, stride))
    out.append("};")
    out.append("")

    out.append("constexpr LowerExpansion LOWER_EXPANSIONS_TABLE[] = {")
    for c in sorted(expansions):
        lower = list(expansions[c]) + [0] * (3 - len(expansions[c]))
        out.append("    {%s, {%s}}," % (hex_cp(c), ", ".join(hex_cp(x) for x in lower)))
    out.append("};")
    out.append("")

    out.append("}  // namespace")
    out.append("")
    for name, kind in (("WHITE_SPACE", "Range"), ("CASED", "Range"), ("CASE_IGNORABLE", "Range"),
                       ("EMOJI_STYLE_BASE", "Range"), ("NOT_CANONICALLY_STABLE", "Range"),
                       ("FORMAT_OR_SEPARATOR", "Range"), ("WIDTHS", "WidthRange"),
                       ("LOWER_RUNS", "LowerRun"), ("LOWER_EXPANSIONS", "LowerExpansion")):
        out.append("constinit const std::span<const %s> %s{%s_TABLE};" % (kind, name, name))
    out.append("")
    out.append("}  // namespace sorvane::text::tables")
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ucd", default="/usr/share/unicode",
                        help="directory of the Unicode Character Database")
    parser.add_argument("--output", required=True, help="the C++ file to write")
    args = parser.parse_args()
    text = generate(args.ucd)
    with open(args.output, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
