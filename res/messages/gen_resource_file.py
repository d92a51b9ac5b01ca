#!/usr/bin/env python3
"""Builds a binary message resource file from its text source.

Usage: gen_resource_file.py SOURCE OUTPUT [--widths W1,W2,W3,W4]

The source holds one message a line: its number (0 to 65535), a tab, its text in
UTF-8; "#" starts a comment line and "\\n", "\\t" and "\\\\" are escapes. The output
is the radix-indexed file the catalog maps:

  offset 0   u32 magic 0x4F534552 ("RESO" in the file)
  offset 4   u32 0x12345678
  offset 8   u32 0
  offset 12  u8 x 4: bit widths of the index levels (sum 16, unused levels 0)
  offset 16  u32 offset of the root table
  then index tables (2^width u32 offsets each, 0 = no message) and leaves
  (u16 length, then the text without terminator); integers little-endian.
"""
import struct
import sys

MAGIC = 0x4F534552
ORDER = 0x12345678
HEADER_BYTES = 20


def parse(path):
    messages = {}
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            number, sep, text = line.partition("\t")
            if not sep or not number.isdigit():
                sys.exit(f"{path}:{lineno}: expected a number, a tab and the text")
            n = int(number)
            if n > 0xFFFF:
                sys.exit(f"{path}:{lineno}: message number {n} is above 65535")
            if n in messages:
                sys.exit(f"{path}:{lineno}: message {n} is given twice")
            text = (text.replace("\\\\", "\0").replace("\\n", "\n").replace("\\t", "\t")
                    .replace("\0", "\\"))
            data = text.encode("utf-8")
            if len(data) > 0xFFFF:
                sys.exit(f"{path}:{lineno}: message {n} is longer than 65535 bytes")
            messages[n] = data
    return messages


def build(messages, widths):
    levels = [w for w in widths if w]
    if sum(widths) != 16 or len(widths) != 4 or any(widths[i] == 0 and widths[i + 1]
                                                    for i in range(3)):
        sys.exit("the four widths must sum to 16 and the unused ones come last")
    out = bytearray(HEADER_BYTES)

    def table(entries):
        offset = len(out)
        out.extend(b"\0" * 4 * entries)
        return offset

    root = table(1 << levels[0])
    for n in sorted(messages):
        shift = 16
        tab = root
        for depth, width in enumerate(levels):
            shift -= width
            slot = tab + 4 * ((n >> shift) & ((1 << width) - 1))
            (entry,) = struct.unpack_from("<I", out, slot)
            if depth + 1 < len(levels):
                if entry == 0:
                    entry = table(1 << levels[depth + 1])
                    struct.pack_into("<I", out, slot, entry)
                tab = entry
            else:
                leaf = len(out)
                out.extend(struct.pack("<H", len(messages[n])))
                out.extend(messages[n])
                struct.pack_into("<I", out, slot, leaf)
    struct.pack_into("<III4BI", out, 0, MAGIC, ORDER, 0, *widths, root)
    return bytes(out)


def main(argv):
    widths = [8, 8, 0, 0]
    args = list(argv)
    if "--widths" in args:
        i = args.index("--widths")
        widths = [int(w) for w in args[i + 1].split(",")]
        del args[i:i + 2]
    if len(args) != 2:
        sys.exit(__doc__)
    data = build(parse(args[0]), widths)
    with open(args[1], "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1:])
