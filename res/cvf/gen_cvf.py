"""Writes the conversion-table file from the set list and the character-set sources.

usage: gen_cvf.py cvf_sets.txt charsets.txt output.cvf

Layout (little-endian): matrix offset M (4), header length L (1), header text (L),
number of sets N (4), N records of label length (1) + label, then at M the N x N
entries (4 each; row = source, column = target), each 0x40000000 | offset of a
128-byte table, or 0 for a pair without one (a set with itself). Equal tables are
stored once.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'charsets'))
from charset_data import label_key, read_charsets  # noqa: E402

HEADER = b'vellum conversion tables;version=2;'
USABLE = 0x40000000


def upper128(codec):
    values = []
    for byte in range(0x80, 0x100):
        try:
            text = bytes([byte]).decode(codec)
        except UnicodeDecodeError:
            text = ''
        values.append(ord(text) if len(text) == 1 else 0xFFFD)
    return values


def table(source, target):
    src = upper128(source.codec)
    reverse = {}
    for i, u in enumerate(upper128(target.codec)):
        if u != 0xFFFD:
            reverse.setdefault(u, 0x80 + i)
    subst = target.substitution[0]
    out = bytearray()
    for u in src:
        if u == 0xFFFD:
            out.append(subst)
        elif u < 0x80:
            out.append(u)
        else:
            out.append(reverse.get(u, subst))
    return bytes(out)


def main():
    sets_path, charsets_path, out_path = sys.argv[1:4]
    by_label = {label_key(r.default): r for r in read_charsets(charsets_path)}
    sets = []
    for raw in open(sets_path, encoding='utf-8'):
        line = raw.strip()
        if not line or line.startswith('#'):
            continue
        record = by_label.get(label_key(line))
        if record is None or record.codec is None or record.max_bytes != 1:
            raise SystemExit('%s: not a single-byte set with a code page: %s' % (sets_path, line))
        sets.append((line.encode('ascii'), record))

    n = len(sets)
    head = bytearray()
    head += struct.pack('<I', 0)  # M, patched below
    head += struct.pack('<B', len(HEADER)) + HEADER
    head += struct.pack('<I', n)
    for label, _ in sets:
        head += struct.pack('<B', len(label)) + label
    matrix_offset = len(head)
    struct.pack_into('<I', head, 0, matrix_offset)

    tables = bytearray()
    tables_offset = matrix_offset + 4 * n * n
    seen = {}
    entries = []
    for _, source in sets:
        for _, target in sets:
            if source is target:
                entries.append(0)
                continue
            data = table(source, target)
            if data not in seen:
                seen[data] = tables_offset + len(tables)
                tables += data
            entries.append(USABLE | seen[data])
    if tables_offset + len(tables) > 0x3FFFFFFF:
        raise SystemExit('table file too large')

    with open(out_path, 'wb') as f:
        f.write(head)
        f.write(struct.pack('<%dI' % len(entries), *entries))
        f.write(tables)


if __name__ == '__main__':
    main()
