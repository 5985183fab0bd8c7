# The cells of a saved workbook's first sheet (.xlsx, .xlsm, .xls, .ods; in an .xlsx, of the sheet
# the second argument names) as a reader other than the office sees them, one line each: REF KIND
# FORMAT. KIND is n (a number), b (a Boolean), e (an error), s (a text), with = before it for a
# formula; FORMAT is general, number, date, percent or currency by the cell's number format, -
# for Booleans, errors and texts.
import re
import struct
import sys
import zipfile
import xml.etree.ElementTree as E


def format_class(code):
    code = code.lower()
    if code == 'general':
        return 'general'
    currency = re.search('[$€£¥]', re.sub(r'_.|\*.', '', code))
    bare = re.sub(r'"[^"]*"|\\.|_.|\*.|\[[^\]]*\]', '', code)
    if re.search('[ymdhs]', bare.replace('general', '')):
        return 'date'
    if '%' in bare:
        return 'percent'
    return 'currency' if currency else 'number'


BUILTIN = {0: 'general', 9: 'percent', 10: 'percent'}
BUILTIN.update({i: 'date' for i in list(range(14, 23)) + [45, 46, 47]})
BUILTIN.update({i: 'currency' for i in range(5, 9)})


def builtin(number):
    return BUILTIN.get(number, 'number')


def show(ref, kind, fmt, formula):
    print(ref, ('=' if formula else '') + kind, fmt if kind == 'n' else '-')


def xlsx(path):
    z = zipfile.ZipFile(path)
    n = '{http://schemas.openxmlformats.org/spreadsheetml/2006/main}'
    rid = '{http://schemas.openxmlformats.org/officeDocument/2006/relationships}id'
    sheets = E.fromstring(z.read('xl/workbook.xml')).find(n + 'sheets')
    named = [s for s in sheets if s.get('name') == (sys.argv[2] if len(sys.argv) > 2 else None)]
    first = (named or sheets)[0].get(rid)
    rels = {r.get('Id'): r.get('Target')
            for r in E.fromstring(z.read('xl/_rels/workbook.xml.rels'))}
    part = rels[first].lstrip('/')
    part = part if part.startswith('xl/') else 'xl/' + part
    styles = E.fromstring(z.read('xl/styles.xml'))
    codes = {int(f.get('numFmtId')): f.get('formatCode') for f in styles.iter(n + 'numFmt')}
    xfs = [int(x.get('numFmtId', 0)) for x in styles.find(n + 'cellXfs')]
    for c in E.fromstring(z.read(part)).iter(n + 'c'):
        if c.find(n + 'v') is None and c.find(n + 'is') is None and c.find(n + 'f') is None:
            continue
        number = xfs[int(c.get('s', 0))]
        fmt = format_class(codes[number]) if number in codes else builtin(number)
        kind = {'b': 'b', 'e': 'e', 's': 's', 'str': 's', 'inlineStr': 's'}.get(c.get('t'), 'n')
        show(c.get('r'), kind, fmt, c.find(n + 'f') is not None)


def ref(row, column):
    name = ''
    column += 1
    while column:
        column, digit = divmod(column - 1, 26)
        name = chr(65 + digit) + name
    return name + str(row + 1)


def compound_stream(data, wanted):
    """A stream of an OLE compound file, by name."""
    sector = 1 << struct.unpack_from('<H', data, 30)[0]
    mini = 1 << struct.unpack_from('<H', data, 32)[0]
    directory, cutoff, minifat_start = struct.unpack_from('<I4xII', data, 48)
    difat = list(struct.unpack_from('<109I', data, 76))
    at = lambda s: 512 + s * sector
    fat = []
    for s in difat:
        if s < 0xFFFFFFFA:
            fat += struct.unpack_from('<%dI' % (sector // 4), data, at(s))

    def chain(start, table):
        while start < 0xFFFFFFFA:
            yield start
            start = table[start]

    def read(start):
        return b''.join(data[at(s):at(s) + sector] for s in chain(start, fat))

    entries = read(directory)
    root_start = struct.unpack_from('<I', entries, 116)[0]
    for i in range(0, len(entries), 128):
        length = struct.unpack_from('<H', entries, i + 64)[0]
        name = entries[i:i + max(length - 2, 0)].decode('utf-16-le')
        start, size = struct.unpack_from('<II', entries, i + 116)
        if name != wanted:
            continue
        if size >= cutoff:
            return read(start)[:size]
        minifat = struct.unpack_from('<%dI' % (len(read(minifat_start)) // 4),
                                     read(minifat_start))
        stream = read(root_start)
        return b''.join(stream[s * mini:(s + 1) * mini] for s in chain(start, minifat))[:size]
    raise SystemExit('no %s stream' % wanted)


def xls(path):
    data = compound_stream(open(path, 'rb').read(), 'Workbook')
    formats, xfs, cells, sheets, at = {}, [], {}, 0, 0
    while at + 4 <= len(data):
        kind, length = struct.unpack_from('<HH', data, at)
        body = data[at + 4:at + 4 + length]
        at += 4 + length
        if kind == 0x809:  # BOF: the globals, then each sheet
            sheets += struct.unpack_from('<H', body, 2)[0] == 0x10
        elif kind == 0x41E:  # FORMAT
            number, count, wide = struct.unpack_from('<HHB', body)
            text = body[5:5 + count * (2 if wide & 1 else 1)]
            formats[number] = text.decode('utf-16-le' if wide & 1 else 'latin-1')
        elif kind == 0xE0:  # XF
            xfs.append(struct.unpack_from('<H', body, 2)[0])
        elif sheets == 1 and kind in (0x203, 0x27E, 0xFD, 0x204, 0x205, 0x06, 0xBD):
            row, column, xf = struct.unpack_from('<HHH', body)
            if kind == 0xBD:  # MULRK: numbers along a row
                for i in range((len(body) - 6) // 6):
                    xf = struct.unpack_from('<H', body, 4 + 6 * i)[0]
                    cells[(row, column + i)] = ('n', xf, False)
                continue
            if kind == 0x205:
                value = 'e' if body[7] else 'b'
            elif kind == 0x06:
                result = body[6:14]
                value = 'n' if result[6:8] != b'\xff\xff' else \
                    {0: 's', 1: 'b', 2: 'e'}.get(result[0], 's')
            else:
                value = 's' if kind in (0xFD, 0x204) else 'n'
            cells[(row, column)] = (value, xf, kind == 0x06)
    for (row, column), (value, xf, formula) in sorted(cells.items()):
        number = xfs[xf]
        fmt = format_class(formats[number]) if number in formats else builtin(number)
        show(ref(row, column), value, fmt, formula)


def ods(path):
    z = zipfile.ZipFile(path)
    ns = {'table': 'urn:oasis:names:tc:opendocument:xmlns:table:1.0',
          'office': 'urn:oasis:names:tc:opendocument:xmlns:office:1.0',
          'style': 'urn:oasis:names:tc:opendocument:xmlns:style:1.0',
          'number': 'urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0'}
    q = lambda name: '{%s}%s' % (ns[name.split(':')[0]], name.split(':')[1])
    content = E.fromstring(z.read('content.xml'))
    styles = E.fromstring(z.read('styles.xml'))
    def data_class(style):
        kind = style.tag.split('}')[1]
        parts = list(style)
        texts = ''.join(p.text or '' for p in parts if p.tag == q('number:text'))
        if kind in ('date-style', 'time-style'):
            return 'date'
        if kind == 'percentage-style':
            return 'percent'
        if kind == 'currency-style' or re.search('[$€£¥]', texts):
            return 'currency'
        # General: one number, its decimals unsaid.
        if kind == 'number-style' and len(parts) == 1 and parts[0].tag == q('number:number') \
                and parts[0].get(q('number:decimal-places')) is None:
            return 'general'
        return 'number'

    data_styles = {}
    for root in (styles, content):
        for style in root.iter():
            if style.tag.startswith('{%s}' % ns['number']) and style.get(q('style:name')):
                data_styles[style.get(q('style:name'))] = data_class(style)
    cell_styles = {s.get(q('style:name')): s.get(q('style:data-style-name'))
                   for s in content.iter(q('style:style'))}
    table = content.find('.//' + q('table:table'))
    row = 0
    for line in table.iter(q('table:table-row')):
        column = 0
        for cell in line:
            if not cell.tag.endswith('table-cell'):
                continue
            repeat = int(cell.get(q('table:number-columns-repeated'), 1))
            value = cell.get(q('office:value-type'))
            formula = cell.get(q('table:formula'))
            if value or formula:
                data = cell_styles.get(cell.get(q('table:style-name')))
                fmt = data_styles.get(data, 'general')
                text = ''.join(cell.itertext())
                kind = {'boolean': 'b', 'string': 's'}.get(value, 'n')
                if kind == 's' and formula and re.fullmatch(r'#[A-Z/0!?]+|Err:\d+', text):
                    kind = 'e'
                show(ref(row, column), kind, fmt, bool(formula))
            column += repeat
        row += int(line.get(q('table:number-rows-repeated'), 1))


path = sys.argv[1]
{'xls': xls, 'ods': ods}.get(path.rsplit('.', 1)[-1].lower(), xlsx)(path)
