#!/usr/bin/env python3
"""Writes the C++ source of the 54 packed collation orders _packed_collation_0 .. 53.

    gen_packed_collations.py charsets.txt sort_rules.txt output.cpp

An order is five 256-byte tables: case-sensitive weights, case-insensitive weights,
lower-case map, upper-case map, character classes (bits 0-1 trail bytes, 0x20
alphabetic, 0x40 digit, 0x80 space). sort_rules.txt describes the ranking.
"""
import os
import sys
import unicodedata

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'charsets'))
from charset_data import read_charsets  # noqa: E402

NUM_ORDERS = 54
NONLETTER_LAST = 103   # letters start at weight 104 when they fit
CLASS_ALPHA, CLASS_DIGIT, CLASS_SPACE = 0x20, 0x40, 0x80
TABLE_NAMES = ['case-sensitive weights', 'case-insensitive weights', 'lower-case map',
               'upper-case map', 'character classes']


def read_rules(path):
    leads, folds = {}, {}
    for number, raw in enumerate(open(path, encoding='utf-8'), 1):
        line = raw.split('#', 1)[0].strip()
        if not line:
            continue
        f = line.split()
        try:
            if f[0] == 'lead' and len(f) == 4:
                lo, hi = (int(x, 16) for x in f[2].split('-'))
                trails = int(f[3])
                if not (0x80 <= lo <= hi <= 0xFF and 1 <= trails <= 3):
                    raise ValueError('bad lead range')
                table = leads.setdefault(int(f[1]), {})
                for b in range(lo, hi + 1):
                    table[b] = trails
            elif f[0] == 'fold' and len(f) == 3 and len(f[1]) == 1 and len(f[2]) == 1:
                folds[f[1]] = f[2]
            else:
                raise ValueError('unknown line')
        except ValueError as e:
            raise SystemExit('%s:%d: %s' % (path, number, e))
    return leads, folds


def decode(byte, codec):
    if byte < 0x80:
        return chr(byte)
    if codec is None:
        return None
    try:
        text = bytes([byte]).decode(codec)
    except UnicodeDecodeError:
        return None
    return text if len(text) == 1 else None


def single(text):
    return text if len(text) == 1 else None


def letter_key(ch, folds):
    """(base, variant, upper) of a letter."""
    lower = single(ch.lower()) or ch
    if lower in folds:
        base = folds[lower]
    else:
        base = unicodedata.normalize('NFKD', lower)[0].lower()
    return base, lower != base, ch.isupper()


def is_letter(ch):
    return unicodedata.category(ch).startswith('L')


def is_control(ch):
    return unicodedata.category(ch) in ('Cc', 'Cf', 'Co', 'Cn', 'Cs')


def fit(ranks, first, last):
    """Maps ranks 0..n-1 onto weights first..last, densely when they fit, else spread
    evenly (neighbours then share a weight; the order is kept)."""
    n = len(ranks)
    room = last - first + 1
    if n <= room:
        return {r: first + i for i, r in enumerate(ranks)}
    return {r: first + (i * room) // n for i, r in enumerate(ranks)}


def weights(items, case_sensitive, multibyte_tail):
    """items: byte -> sort class tuple. Returns 256 weights."""
    nonletters, letters, tail = set(), set(), set()
    for b, item in items.items():
        kind = item[0]
        if kind == 'zero':
            continue
        if kind == 'letter':
            base, variant, upper = item[1]
            key = (ord(base), variant, upper) if case_sensitive else (ord(base), variant)
            letters.add(key)
        elif kind == 'raw':
            tail.add(b)
        else:
            nonletters.add(item[1:])
    nonletters = sorted(nonletters)
    if len(nonletters) > NONLETTER_LAST:
        # Control characters share one weight before anything is spread.
        nonletters = sorted({k if k[0] != 0 else (0,) for k in nonletters})
    wn = fit(nonletters, 1, NONLETTER_LAST)
    after = max(wn.values(), default=0) + 1
    upper_ranks = sorted(letters) + [('tail', b) for b in sorted(tail)]
    if len(upper_ranks) <= 255 - NONLETTER_LAST:
        wl = fit(upper_ranks, NONLETTER_LAST + 1, 255)
    else:
        wl = fit(upper_ranks, after, 255)
    out = [0] * 256
    for b, item in items.items():
        kind = item[0]
        if kind == 'zero':
            out[b] = 0
        elif kind == 'letter':
            base, variant, upper = item[1]
            key = (ord(base), variant, upper) if case_sensitive else (ord(base), variant)
            out[b] = wl[key]
        elif kind == 'raw':
            out[b] = wl[('tail', b)]
        else:
            k = item[1:]
            out[b] = wn[k] if k in wn else wn[(0,)]
    return out


def build_order(record, leads, folds):
    codec = record.codec
    multibyte = record.max_bytes > 1
    trails = leads.get(record.row, {})
    if multibyte and not trails:
        raise SystemExit('row %d: multi-byte set without lead rules' % record.row)
    items, classes = {}, [0] * 256
    lower_map, upper_map = list(range(256)), list(range(256))
    chars = {}
    for b in range(256):
        ch = decode(b, None if multibyte else codec)
        chars[b] = ch
        if b == 0:
            items[b] = ('zero',)
        elif ch is None:
            items[b] = ('raw',)
        elif is_letter(ch):
            items[b] = ('letter', letter_key(ch, folds))
        elif is_control(ch):
            items[b] = ('ctl', 0, b)
        elif unicodedata.numeric(ch, None) is not None:
            items[b] = ('num', 2, unicodedata.numeric(ch), ord(ch))
        else:
            items[b] = ('sym', 1, ord(ch), 0)
        if ch is not None:
            if ch.isalpha():
                classes[b] |= CLASS_ALPHA
            if ch.isdecimal():
                classes[b] |= CLASS_DIGIT
            if ch in ' \t\n\v\f\r' or unicodedata.category(ch) == 'Zs':
                classes[b] |= CLASS_SPACE
        classes[b] |= trails.get(b, 0)
        if trails.get(b, 0) + 1 > record.max_bytes and record.row != 10:
            raise SystemExit('row %d: byte %02X leads more bytes than the set allows'
                             % (record.row, b))
    # Case maps: only to a single character that is itself a byte of the set.
    encoded = {ch: b for b, ch in chars.items() if ch is not None}
    for b, ch in chars.items():
        if ch is None or b == 0:
            continue
        lo, up = single(ch.lower()), single(ch.upper())
        if lo in encoded:
            lower_map[b] = encoded[lo]
        if up in encoded:
            upper_map[b] = encoded[up]
    cs = weights(items, True, multibyte)
    ci = weights(items, False, multibyte)
    return cs + ci + lower_map + upper_map + classes


def main():
    records = read_charsets(sys.argv[1])
    leads, folds = read_rules(sys.argv[2])
    out = ['// Generated by res/collations/gen_packed_collations.py; do not edit.',
           '#include "utils/locale/packed_collation.h"', '']
    for i in range(NUM_ORDERS):
        record = records[i]
        if record.unit_bytes != 1:
            raise SystemExit('row %d is not a byte-oriented set' % i)
        data = build_order(record, leads, folds)
        assert len(data) == 1280
        out.append('// %s' % record.default)
        out.append('extern "C" const a_packed_collation_order _packed_collation_%d = {' % i)
        for t in range(5):
            out.append('    {  // %s' % TABLE_NAMES[t])
            for j in range(256 * t, 256 * (t + 1), 16):
                out.append('        ' + ', '.join('%d' % v for v in data[j:j + 16]) + ',')
            out.append('    },')
        out.append('};')
        out.append('')
    out.append('const a_packed_collation_order* const kPackedCollationOrders[%d] = {'
               % NUM_ORDERS)
    for i in range(NUM_ORDERS):
        out.append('    &_packed_collation_%d,' % i)
    out.append('};')
    with open(sys.argv[3], 'w', encoding='utf-8') as f:
        f.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main()
