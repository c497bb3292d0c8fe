"""Compares `quillmere-cli export` output with what dbfread reads from the same table.

usage: dbfread_compare.py TABLE.dbf EXPORT.jsonl [ENCODING]

Exits 0 when every row and value agrees, else prints the differences.
Runs in Debian's own python3, where python3-dbfread is installed.
"""
import datetime
import decimal
import json
import sys

import dbfread


def expected(field, value):
    """The contract's JSON form of a dbfread value, as a Python value."""
    if value is None:
        return None
    t = field.type
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
        return value.strftime('%Y-%m-%d')
    if t in ('T', '@'):
        rounded = value + datetime.timedelta(microseconds=500000) if value.microsecond >= 500000 else value
        return rounded.replace(microsecond=0).strftime('%Y-%m-%d %H:%M:%S')
    if isinstance(value, (bytes, bytearray)):
        return bytes(value).hex()
    return value


def main():
    path, export = sys.argv[1], sys.argv[2]
    encoding = sys.argv[3] if len(sys.argv) > 3 else None
    table = dbfread.DBF(path, encoding=encoding, char_decode_errors='strict', raw=False, load=False)
    fields = [f for f in table.fields if f.type != '0']
    with open(export, encoding='utf-8') as f:
        ours = [json.loads(line, parse_float=decimal.Decimal, parse_int=decimal.Decimal) for line in f]
    problems = []
    theirs = list(table.records)
    if len(theirs) != len(ours):
        problems.append('row count: dbfread %d, ours %d' % (len(theirs), len(ours)))
    for r, (rec, row) in enumerate(zip(theirs, ours)):
        values = list(rec.values())
        if len(values) != len(row):
            problems.append('row %d: %d fields, ours %d' % (r, len(values), len(row)))
            continue
        for field, value, mine in zip(fields, values, row):
            want = expected(field, value)
            if field.type in ('B', 'F', 'O', 'N') and want is not None and mine is not None:
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
