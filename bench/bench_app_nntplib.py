#!/usr/bin/env python3
"""The baseline of the posting benchmarks: Python's nntplib doing the same work as Heraldix on
the same server. Prints one JSON object: the seconds of each round and the peak memory (a post
also gives wire_seconds, from its first POST to its last verdict).

  bench_app_nntplib.py post PORT SUBJECT BODYFILE GROUP... [--attach FILE] [--tls CAFILE]
      one connection, one article per group in order (each composed afresh, the attachment
      read and base64-encoded afresh, as Heraldix does), from connect to the last verdict;
      with --tls over implicit TLS (NNTP_SSL), the certificate checked against CAFILE
  bench_app_nntplib.py list PORT
      one connection, LIST, until the reply is parsed into groups
"""
import base64
import json
import os
import resource
import ssl
import sys
import time
import warnings

warnings.simplefilter("ignore", DeprecationWarning)
import nntplib  # noqa: E402

BOUNDARY = "_NextPart_bench_0123456789abcdef0123456789"


def compose(group, subject, body_lines, attach):
    lines = [
        "Path: " + group,
        "Newsgroups: " + group,
        "From: poster@example.com",
        "Subject: " + subject,
        "Sender: poster@example.com",
        "MIME-Version: 1.0",
        'Content-Type: multipart/mixed; boundary="%s"' % BOUNDARY,
        "",
        "--" + BOUNDARY,
        "Content-Type: text/plain",
        "Content-Transfer-Encoding: 7bit",
        "",
    ]
    lines += body_lines
    out = [line.encode() + b"\r\n" for line in lines]
    if attach:
        name = os.path.basename(attach)
        with open(attach, "rb") as f:
            data = f.read()
        out += [
            b"--" + BOUNDARY.encode() + b"\r\n",
            ('Content-Type: application/octet-stream; name="%s"\r\n' % name).encode(),
            b"Content-Transfer-Encoding: base64\r\n",
            ('Content-Disposition: attachment; filename="%s"\r\n' % name).encode(),
            b"\r\n",
        ]
        encoded = base64.encodebytes(data).replace(b"\n", b"\r\n")
        out.append(encoded)
    out.append(b"--" + BOUNDARY.encode() + b"--\r\n")
    return b"".join(out)


def peak_kib():
    # VmHWM belongs to this program alone; ru_maxrss would carry the parent's figure over exec.
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def main():
    mode, port = sys.argv[1], int(sys.argv[2])
    start = time.perf_counter()
    if mode == "post":
        subject, body_file = sys.argv[3], sys.argv[4]
        rest = sys.argv[5:]
        attach = None
        if "--attach" in rest:
            at = rest.index("--attach")
            attach = rest[at + 1]
            del rest[at : at + 2]
        cafile = None
        if "--tls" in rest:
            at = rest.index("--tls")
            cafile = rest[at + 1]
            del rest[at : at + 2]
        with open(body_file, encoding="utf-8") as f:
            body_lines = f.read().splitlines()
        if cafile:
            context = ssl.create_default_context(cafile=cafile)
            server = nntplib.NNTP_SSL("127.0.0.1", port, ssl_context=context)
        else:
            server = nntplib.NNTP("127.0.0.1", port)
        accepted = 0
        # From the first POST to the last verdict: the wire time, set-up left out.
        first_post = time.perf_counter()
        for group in rest:
            try:
                server.post(compose(group, subject, body_lines, attach))
                accepted += 1
            except nntplib.NNTPError:
                pass
        end = time.perf_counter()
        seconds = end - start
        server.quit()
        result = {"seconds": seconds, "wire_seconds": end - first_post, "accepted": accepted}
    else:
        server = nntplib.NNTP("127.0.0.1", port)
        _, groups = server.list()
        seconds = time.perf_counter() - start
        server.quit()
        result = {"seconds": seconds, "groups": len(groups)}
    result["peak_kib"] = peak_kib()
    json.dump(result, sys.stdout)


main()
