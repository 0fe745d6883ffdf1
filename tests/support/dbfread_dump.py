#!/usr/bin/python3
"""Prints a table as python3-dbfread reads it, for the C++ tests (tests/support/DbfRead.h).

Output, one item a line: "F NAME:T:W:D" for each field, then "R v1|v2|..." for each live record.
Texts are UTF-8 with backslash and line feed escaped; None is "~"; logicals are "T"/"F"; floats
are Python's repr. A reader error goes to stderr and the exit status is 1.
"""

import datetime
import sys

import dbfread


def show(value):
    if value is None:
        return "~"
    if value is True:
        return "T"
    if value is False:
        return "F"
    if isinstance(value, float):
        return repr(value)
    if isinstance(value, (datetime.date, datetime.datetime)):
        return value.isoformat()
    return str(value).replace("\\", "\\\\").replace("\n", "\\n")


def main():
    if len(sys.argv) != 2:
        print("usage: dbfread_dump.py TABLE.DBF", file=sys.stderr)
        return 2
    try:
        table = dbfread.DBF(sys.argv[1], encoding="cp1252", ignore_missing_memofile=True)
        lines = []
        for field in table.fields:
            lines.append("F %s:%s:%d:%d" % (field.name, field.type, field.length, field.decimal_count))
        for record in table:
            lines.append("R " + "|".join(show(value) for value in record.values()))
    except Exception as error:  # any reader complaint fails the test that asked
        print("dbfread: %s: %r" % (sys.argv[1], error), file=sys.stderr)
        return 1
    sys.stdout.buffer.write(("\n".join(lines) + "\n").encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
