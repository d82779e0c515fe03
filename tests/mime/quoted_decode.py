"""Decodes quoted-printable from standard input with Python's quopri and checks the line lengths.

Writes the decoded bytes to standard output. Exits with 2 when an encoded line (without its
CR LF) is longer than 76 characters.
"""
import quopri
import sys

data = sys.stdin.buffer.read()
for number, line in enumerate(data.split(b"\r\n"), 1):
    if len(line) > 76:
        sys.stderr.write("line %d has %d characters\n" % (number, len(line)))
        sys.exit(2)
sys.stdout.buffer.write(quopri.decodestring(data))
