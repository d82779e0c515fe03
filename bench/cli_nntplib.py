#!/usr/bin/env python3
"""The baseline of the command-line benchmark: a whole Python process doing with nntplib what
one `heraldix post` or `heraldix list` run does, timed from outside as the program is.

  cli_nntplib.py post PORT SUBJECT BODYFILE GROUP...
      one connection, one plain-text article per group (each composed afresh), then QUIT
  cli_nntplib.py list PORT
      one connection, LIST, the group names written to standard output one a line
"""
import sys
import time
import warnings

warnings.simplefilter("ignore", DeprecationWarning)
import nntplib  # noqa: E402


def compose(group, subject, body_lines):
    lines = [
        "Path: not-for-mail",
        "Newsgroups: " + group,
        "From: poster@example.com",
        "Subject: " + subject,
        "Message-ID: <%d.%s@example.com>" % (time.time_ns(), group),
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=us-ascii",
        "Content-Transfer-Encoding: 7bit",
        "",
    ] + body_lines
    return b"".join(line.encode() + b"\r\n" for line in lines)


def main():
    mode, port = sys.argv[1], int(sys.argv[2])
    server = nntplib.NNTP("127.0.0.1", port)
    if mode == "post":
        subject, body_file, groups = sys.argv[3], sys.argv[4], sys.argv[5:]
        with open(body_file, encoding="utf-8") as f:
            body_lines = f.read().splitlines()
        refused = 0
        for group in groups:
            try:
                server.post(compose(group, subject, body_lines))
            except nntplib.NNTPError:
                refused += 1
        server.quit()
        sys.exit(1 if refused else 0)
    _, groups = server.list()
    sys.stdout.write("".join(group.group + "\n" for group in groups))
    server.quit()


main()
