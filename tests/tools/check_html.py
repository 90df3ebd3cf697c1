#!/usr/bin/env python3
"""Checks that an HTML file parses without a single error in html5lib's strict mode.

Usage: check_html.py FILE. Exit status 0 when the file is UTF-8 and parses cleanly, 1 when it
does not (every parse error is listed with its line and column), 77 when html5lib is missing.
"""
import sys

try:
    import html5lib
except ImportError:
    print("html5lib not available: skipped")
    sys.exit(77)


def main(argv):
    if len(argv) != 2:
        print("usage: check_html.py FILE", file=sys.stderr)
        return 2
    path = argv[1]
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8")
    except (OSError, UnicodeDecodeError) as error:
        print(f"{path}: {error}")
        return 1

    try:
        html5lib.HTMLParser(strict=True).parse(text)
        return 0
    except html5lib.html5parser.ParseError:
        pass
    # The strict parse stops at the first error; a tolerant one lists them all.
    parser = html5lib.HTMLParser(strict=False)
    parser.parse(text)
    # Later errors are mostly the first one's consequences.
    for (line, column), code, data in parser.errors[:20]:
        print(f"{path}:{line}:{column}: {code} {data or ''}")
    if len(parser.errors) > 20:
        print(f"{path}: {len(parser.errors) - 20} more errors")
    if not parser.errors:
        print(f"{path}: strict parse failed")
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
