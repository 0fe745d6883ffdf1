#!/usr/bin/python3
"""Reads every table named on the command line with python3-dbfread, every record of it.

Prints one line per table that cannot be read and exits with 1 when there is any.
"""

import sys

import dbfread


def main():
    failures = 0
    for path in sys.argv[1:]:
        try:
            table = dbfread.DBF(path, encoding="cp1252", ignore_missing_memofile=True)
            for _ in table:
                pass
        except Exception as error:  # any reader complaint is a failure
            print("dbfread: %s: %r" % (path, error))
            failures += 1
    print("leídas=%d" % len(sys.argv[1:]))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
