"""Reading the character-set text sources shared by the generator and the alias deriver."""

SCHEME_DEFAULT = 0x1
SCHEME_IANA = 0x2
SCHEME_MIME = 0x4
SCHEME_JAVA = 0x8
SCHEME_WINDOWS = 0x10
SCHEME_ICU_CANONICAL = 0x20
SCHEME_IBM = 0x40
SCHEME_ICU = 0x80
SCHEME_SERVER = 0x100

# Label columns of a record line, in record order, with the scheme each one names.
LABEL_COLUMNS = [SCHEME_DEFAULT, SCHEME_IANA, SCHEME_MIME, SCHEME_ICU, SCHEME_JAVA,
                 SCHEME_SERVER]


def label_key(label):
    """Two labels the registry treats as one give the same key: case, blanks, '-' and
    '_' do not count."""
    return ''.join(c for c in label.lower() if c not in ' -_\t')


class Record:
    def __init__(self, fields):
        if len(fields) != 14:
            raise ValueError('record line needs 14 fields: %r' % (fields,))
        self.row = int(fields[0])
        self.default = fields[1]
        # Preferred label per scheme (None when the scheme has none).
        self.preferred = {}
        for scheme, text in zip(LABEL_COLUMNS[1:], fields[2:7]):
            self.preferred[scheme] = None if text == '-' else (
                self.default if text == '=' else text)
        self.charset_id = int(fields[7])
        self.cslib_id = int(fields[8])
        self.code_page = int(fields[9])
        self.unit_bytes = int(fields[10])
        self.max_bytes = int(fields[11])
        self.substitution = bytes.fromhex(fields[12])
        self.codec = None if fields[13] == '-' else fields[13]
        self.extra = []   # (bits, label)

    def given_labels(self):
        """The labels the registry table itself names, with their scheme bits."""
        labels = {self.default: SCHEME_DEFAULT}
        for scheme, text in self.preferred.items():
            if text is not None:
                labels[text] = labels.get(text, 0) | scheme
        if self.preferred[SCHEME_ICU] is not None:
            labels[self.preferred[SCHEME_ICU]] |= SCHEME_ICU
        return labels


def read_charsets(path):
    records = []
    for number, raw in enumerate(open(path, encoding='utf-8'), 1):
        line = raw.strip()
        if not line or line.startswith('#'):
            continue
        try:
            if line.startswith('+'):
                row, bits, label = [f.strip() for f in line[1:].split('|')]
                records[int(row)].extra.append((int(bits, 0), label))
            else:
                records.append(Record([f.strip() for f in line.split('|')]))
                if records[-1].row != len(records) - 1:
                    raise ValueError('records out of order')
        except (ValueError, IndexError) as e:
            raise SystemExit('%s:%d: %s' % (path, number, e))
    return records


def read_aliases(path):
    """icu_aliases.txt: 'row | bits | label' lines."""
    aliases = []
    for raw in open(path, encoding='utf-8'):
        line = raw.strip()
        if not line or line.startswith('#'):
            continue
        row, bits, label = [f.strip() for f in line.split('|')]
        aliases.append((int(row), int(bits, 0), label))
    return aliases
