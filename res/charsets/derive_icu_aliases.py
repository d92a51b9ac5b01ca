#!/usr/bin/env python3
"""Derives icu_aliases.txt from ICU's converter alias table.

Run by hand when the alias list is to be refreshed (the build never runs it):
    uconv --canon -l | python3 derive_icu_aliases.py charsets.txt > icu_aliases.txt

For every record the aliases of the ICU converter named by its ICU label are listed,
with scheme bits from ICU's standard tags (IANA 0x2, MIME 0x4, JAVA 0x8, WINDOWS 0x10,
IBM 0x40), every alias with 0x80 and the converter's canonical name with 0x20 | 0x80.
An alias that the registry table gives to another record, or that an earlier record
already carries, is left out, so that every label names one record only.
"""
import sys

from charset_data import (SCHEME_IANA, SCHEME_MIME, SCHEME_JAVA, SCHEME_WINDOWS,
                          SCHEME_IBM, SCHEME_ICU, SCHEME_ICU_CANONICAL, label_key,
                          read_charsets)

TAG_BITS = {'IANA': SCHEME_IANA, 'MIME': SCHEME_MIME, 'JAVA': SCHEME_JAVA,
            'WINDOWS': SCHEME_WINDOWS, 'IBM': SCHEME_IBM}

# ICU labels of the registry that this ICU release lacks, and the label of the
# converter whose aliases stand in for them.
NEAREST = {
    'ibm-33722_P12A-1999': 'EUC-JP',
    'macos-6-10.2': 'macos-6_2-10.4',
    'ibm-1375_P100-2003': 'ibm-1375_P100-2008',
    'ibm-970_P110-1995': 'ibm-970_P110_P110-2006_U2',
    'windows-1256-2000': 'ibm-9448_X100-2005',
}

# ICU keeps Windows-31J and Shift_JIS in one converter; IANA registers these names as
# aliases of Shift_JIS, so they go to that record rather than to the first user.
PREFER_ROW = {'mskanji': 7, 'csshiftjis': 7, 'xsjis': 7}


def parse_alias_table(lines):
    converters = {}   # canonical name -> [(name, bits)]
    current = None
    for raw in lines:
        if not raw.strip() or raw.lstrip().startswith('{'):
            continue
        name, _, rest = raw.strip().partition(' ')
        tags = rest.strip().strip('{}').split()
        bits = 0
        for tag in tags:
            bits |= TAG_BITS.get(tag.rstrip('*'), 0)
        if raw[0] in ' \t':
            converters[current].append((name, bits | SCHEME_ICU))
        else:
            current = name
            converters[current] = [(name, bits | SCHEME_ICU | SCHEME_ICU_CANONICAL)]
    by_label = {}
    for canonical, names in converters.items():
        for name, _ in names:
            by_label.setdefault(name.lower(), canonical)
    return converters, by_label


def main():
    records = read_charsets(sys.argv[1])
    converters, by_label = parse_alias_table(sys.stdin)
    owner = {}
    for record in records:
        for label in record.given_labels():
            owner.setdefault(label_key(label), set()).add(record.row)
    print('# Aliases from the ICU converter alias table: row | scheme bits | label.')
    print('# Made by derive_icu_aliases.py; see that script before editing by hand.')
    taken = set()
    for record in records:
        icu = record.preferred[0x80]
        if icu is None:
            continue
        canonical = by_label.get(NEAREST.get(icu, icu).lower())
        if canonical is None:
            print('no ICU converter for %s' % icu, file=sys.stderr)
            continue
        for name, bits in converters[canonical]:
            key = label_key(name)
            own = record.row in owner.get(key, set())
            others = owner.get(key, set()) - {record.row}
            if not own and (others or key in taken
                            or PREFER_ROW.get(key, record.row) != record.row):
                continue
            taken.add(key)
            print('%d | 0x%X | %s' % (record.row, bits, name))


if __name__ == '__main__':
    main()
