"""Compares `quillmere-cli export` output with what dbfread reads from the same table.

usage: dbfread_compare.py TABLE.dbf EXPORT.jsonl [ENCODING] [--binary I,J] [--single I,J] [--padded]

--binary: fields (0-based) holding bytes, read from the memo as they are;
--single: fields whose source was a 4-byte float, compared at that width;
--padded: character fields pad with blanks, so trailing blanks of ours
          are not compared (a FoxPro C column of a copied text).

Exits 0 when every row and value agrees, else prints the differences.
Runs in Debian's own python3, where python3-dbfread is installed.
"""
import codecs
import datetime
import decimal
import json
import sys

import dbfread
import struct
from dbfread.field_parser import FieldParser


def expected(field, value):
    """The contract's JSON form of a dbfread value, as a Python value."""
    t = field.type
    if value is None:
        # dbfread has no value for a memo without a block; in the table it
        # is an empty memo, not a null one.
        return '' if t == 'M' else None
    if t == 'L':
        return bool(value)
    if t in ('I', '+'):
        return int(value)
    if t in ('B', 'F', 'O'):
        return float(value)
    if t == 'N':
        return decimal.Decimal(str(value)) if not isinstance(value, int) else decimal.Decimal(value)
    if t == 'Y':
        s = format(decimal.Decimal(value).normalize(), 'f')
        return s
    if t == 'D':
        return '%04d-%02d-%02d' % (value.year, value.month, value.day)
    if t in ('T', '@'):
        rounded = value + datetime.timedelta(microseconds=500000) if value.microsecond >= 500000 else value
        r = rounded.replace(microsecond=0)
        return '%04d-%02d-%02d %02d:%02d:%02d' % (r.year, r.month, r.day, r.hour, r.minute, r.second)
    if isinstance(value, (bytes, bytearray)):
        return bytes(value).hex()
    return value


def passthrough(err):
    # Bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D)
    # become the code point of the same number, as Windows converts them.
    bad = err.object[err.start:err.end]
    return ''.join(chr(b) for b in bad), err.end


codecs.register_error('qm-passthrough', passthrough)


def null_bits(path):
    """For each field (without _NullFlags), the _NullFlags bit that marks it
    null, or None: bits go in field order, a varlength bit first for V and Q
    fields, then a null bit for nullable fields."""
    with open(path, 'rb') as f:
        head = f.read(32)
        header_len = int.from_bytes(head[8:10], 'little')
        raw = f.read(header_len - 32)
    bits, nxt = [], 0
    for off in range(0, len(raw) - 31, 32):
        d = raw[off:off + 32]
        if d[0] == 0x0D:
            break
        ftype, flags = chr(d[11]), d[18]
        if ftype == '0':
            continue
        if ftype in 'VQ':
            nxt += 1
        if flags & 0x02:
            bits.append(nxt)
            nxt += 1
        else:
            bits.append(None)
    return bits


def index_list(args, flag):
    if flag not in args:
        return set()
    i = args.index(flag)
    value = args[i + 1]
    del args[i:i + 2]
    return {int(x) for x in value.split(',') if x}


def as_single(x):
    return struct.unpack('<f', struct.pack('<f', float(x)))[0]


def main():
    args = sys.argv[1:]
    binary = index_list(args, '--binary')
    single = index_list(args, '--single')
    padded = '--padded' in args
    if padded:
        args.remove('--padded')
    path, export = args[0], args[1]
    encoding = args[2] if len(args) > 2 else None
    binary_names = set()

    class Parser(FieldParser):
        def parseM(self, field, data):
            if field.name in binary_names:
                memo = self.get_memo(self._parse_memo_index(data))
                return None if memo is None else bytes(memo)
            return FieldParser.parseM(self, field, data)

        def parseN(self, field, data):
            # The digits as written: a float would round 18-digit numbers.
            text = data.strip(b' *\x00').decode('ascii')
            return decimal.Decimal(text) if text else None

    table = dbfread.DBF(path, encoding=encoding, char_decode_errors='qm-passthrough' if encoding else 'strict',
                        raw=False, load=False, ignore_missing_memofile=True, parserclass=Parser)
    binary_names.update(f.name for k, f in enumerate([f for f in table.fields if f.type != '0']) if k in binary)
    bits = null_bits(path)
    fields = [f for f in table.fields if f.type != '0']
    with open(export, encoding='utf-8') as f:
        ours = [json.loads(line, parse_float=decimal.Decimal, parse_int=decimal.Decimal) for line in f]
    problems = []
    theirs = list(table.records)
    if len(theirs) != len(ours):
        problems.append('row count: dbfread %d, ours %d' % (len(theirs), len(ours)))
    for r, (rec, row) in enumerate(zip(theirs, ours)):
        values = [v for f, v in zip(table.fields, rec.values()) if f.type != '0']
        flags = rec.get('_NullFlags') or rec.get('_nullflags') or b''
        null = [bit is not None and bit // 8 < len(flags) and bool(flags[bit // 8] >> (bit % 8) & 1) for bit in bits]
        if len(values) != len(row):
            problems.append('row %d: %d fields, ours %d' % (r, len(values), len(row)))
            continue
        for k, (field, value, mine, is_null) in enumerate(zip(fields, values, row, null)):
            want = None if is_null else expected(field, value)
            if padded and field.type == 'C' and isinstance(mine, str):
                mine = mine.rstrip(' ')
            if k in single and want is not None and mine is not None:
                same = as_single(want) == as_single(mine)
            elif field.type in ('B', 'F', 'O', 'N') and want is not None and mine is not None:
                same = decimal.Decimal(mine) == decimal.Decimal(repr(want) if isinstance(want, float) else want)
            elif isinstance(want, int) and not isinstance(want, bool) and mine is not None:
                same = decimal.Decimal(mine) == want
            else:
                same = want == mine
            if not same:
                problems.append('row %d field %s (%s): dbfread %r, ours %r' % (r, field.name, field.type, want, mine))
    for p in problems[:20]:
        print(p)
    sys.exit(1 if problems else 0)


main()
