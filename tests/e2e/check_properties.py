# Every property of each card (or each filled cell of each row) of a contact file is in some card of an exported
# vCard file, as an independent reader sees them. Prints a JSON list of what is missing.
import csv
import io
import json
import re
import sys

import vobject


def text_of(path):
    data = open(path, 'rb').read()
    if data.startswith(b'\xef\xbb\xbf'):
        return data[3:].decode('utf-8')
    if data[:2] in (b'\xff\xfe', b'\xfe\xff'):
        return data.decode('utf-16')
    if b'\x00' in data[:200]:
        return data.decode('utf-16-le' if data[1:2] == b'\x00' else 'utf-16-be')
    try:
        return data.decode('utf-8')
    except UnicodeDecodeError:
        return data.decode('cp1252')


def flat(value):
    if isinstance(value, bytes):
        return value.hex()
    if isinstance(value, (list, tuple)):
        return ' '.join(flat(v) for v in value)
    if hasattr(value, 'street'):
        return flat([value.box, value.extended, value.street, value.city, value.region, value.code, value.country])
    if hasattr(value, 'family'):
        return flat([value.family, value.given, value.additional, value.prefix, value.suffix])
    return str(value)


def norm(value):
    return re.sub(r'\s+', ' ', flat(value)).strip().lower()


def digits(number):
    d = re.sub(r'[^0-9+]', '', number.split(';')[0])
    if d.startswith('+39'):
        d = d[3:]
    elif d.startswith('0039'):
        d = d[4:]
    return d


SKIPPED = {'version', 'uid', 'prodid', 'rev'}
NOT_TYPES = {'quoted-printable', 'base64', 'b', '8bit', '7bit'}


def types_of(line):
    types = set()
    for value in line.params.get('TYPE', []) + list(line.singletonparams):
        types.update(t.strip().lower() for t in value.split(','))
    return frozenset(types - NOT_TYPES)


def properties(card):
    found = set()
    for name, lines in card.contents.items():
        if name in SKIPPED:
            continue
        for line in lines:
            found.add(((line.group or '').lower(), name, types_of(line), norm(line.value)))
    return found


def joined_soft_breaks(text):
    # vCard 2.1 continues a quoted-printable value after a line ending in "=", which the reader does not follow.
    lines = re.split(r'\r\n|\n|\r', text)
    out = []
    joining = False
    for line in lines:
        if joining:
            out[-1] = out[-1][:-1] + line
        else:
            out.append(line)
        head = out[-1].split(':', 1)[0].upper()
        joining = 'QUOTED-PRINTABLE' in head and out[-1].endswith('=')
    # In 2.1 a comma is text; the reader takes it for a separator of values as in 3.0.
    version21 = False
    for i, line in enumerate(out):
        if line.upper().startswith('BEGIN:VCARD'):
            version21 = any(l.strip().upper() == 'VERSION:2.1' for l in out[i:i + 3])
        elif version21 and ':' in line and not line[:1].isspace():
            head, value = line.split(':', 1)
            out[i] = head + ':' + re.sub(r'(?<!\\),', r'\\,', value)
    return '\r\n'.join(out)


def cards_of(text):
    return list(vobject.readComponents(joined_soft_breaks(text)))


def missing_from_cards(source, exported):
    missing = []
    outs = [properties(card) for card in exported]
    for card in cards_of(source):
        wanted = properties(card)
        best = min((wanted - out for out in outs), key=len, default=wanted)
        missing.extend(sorted(str(p) for p in best))
    return missing


IGNORED = re.compile(r'(type|label|formatted)$|^(group membership|labels|nickname|title|initials|categories|gender|'
                     r'sensitivity|priority|private|anniversary|web page \d|birth (year|month|day)|'
                     r'organization \d - title|name|display name)$', re.I)
UNSET = {'', '0/0/00', 'unspecified', 'normal', 'false'}
PHONE = re.compile(r'phone|fax|pager|mobile|telefon|cellular', re.I)


def missing_from_rows(source, exported):
    first = source.split('\n', 1)[0]
    separator = max([';', ',', '\t'], key=first.count)
    rows = list(csv.reader(io.StringIO(source), delimiter=separator))
    headings = rows[0]
    blobs = [(' | '.join(norm(line.value) for lines in card.contents.values() for line in lines),
              {digits(str(line.value)) for line in card.contents.get('tel', [])}) for card in exported]
    missing = []
    for row in rows[1:]:
        facts = []
        for heading, cell in zip(headings, row):
            if IGNORED.search(heading.strip()) or cell.strip().lower() in UNSET:
                continue
            for value in cell.split(':::'):
                if PHONE.search(heading):
                    facts.append(('tel', heading, digits(value)))
                else:
                    facts.append(('text', heading, norm(value)))
        if not facts:
            continue
        def lacking(blob):
            text, tels = blob
            return [f for f in facts if (f[2] not in tels if f[0] == 'tel' else f[2] not in text)]
        best = min((lacking(b) for b in blobs), key=len, default=facts)
        missing.extend('%s=%s' % (f[1], f[2]) for f in best)
    return missing


def main():
    source, target = sys.argv[1], sys.argv[2]
    exported = cards_of(text_of(target))
    for card in exported:
        assert card.version.value == '3.0', card.version.value
    text = text_of(source)
    if source.endswith('.csv'):
        missing = missing_from_rows(text, exported)
    else:
        missing = missing_from_cards(text, exported)
    print(json.dumps({'cards': len(exported), 'missing': missing}))


main()
