"""Parses a composed article with Python's email package and prints what it found.

Standard input: the article as composed, CR LF lines, ending in the line ".".
Output, one item per line:
  header <name>: <value>          for each top-level header, in order
  part <depth> <content-type> <transfer-encoding> <filename or ->
  payload <depth> <sha256 of the decoded payload> <decoded size>
  defects <count>                 defects the parser noticed, summed over all parts
"""
import email
import email.policy
import hashlib
import sys

text = sys.stdin.buffer.read()
lines = text.split(b"\r\n")
if lines and lines[-1] == b"":
    lines.pop()
if not lines or lines[-1] != b".":
    sys.stderr.write("the article does not end in a single period\n")
    sys.exit(3)
raw = b"\n".join(lines[:-1]) + b"\n"
message = email.message_from_bytes(raw, policy=email.policy.compat32)
for name, value in message.items():
    print("header %s: %s" % (name, " ".join(str(value).split())))
defects = 0


def walk(part, depth):
    global defects
    defects += len(part.defects)
    print("part %d %s %s %s" % (depth, part.get_content_type(),
                                part.get("Content-Transfer-Encoding", "-"),
                                part.get_filename() or "-"))
    if part.is_multipart():
        for child in part.get_payload():
            walk(child, depth + 1)
    else:
        payload = part.get_payload(decode=True) or b""
        print("payload %d %s %d" % (depth, hashlib.sha256(payload).hexdigest(), len(payload)))


walk(message, 0)
print("defects %d" % defects)
