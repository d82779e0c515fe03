#!/usr/bin/env python3
"""A reader's view of one article, through Python's email package (default policy).

Standard input: the article as composed (CR LF lines ending in the line ".") or as a server
hands it out.
Standard output: JSON with the decoded subject, sender's name and address, organization,
user agent, how often each header occurs, the text part's lines, the attachment's file name
and bytes (base64), the parser's defects and the longest line of the text.
"""
import base64
import email
import email.policy
import json
import sys

text = sys.stdin.buffer.read()
lines = text.replace(b"\r\n", b"\n").split(b"\n")
if lines and lines[-1] == b"":
    lines.pop()
if lines and lines[-1] == b".":
    lines.pop()
raw = b"\n".join(lines) + b"\n"
message = email.message_from_bytes(raw, policy=email.policy.default)

counts = {}
for name in message.keys():
    counts[name] = counts.get(name, 0) + 1

sender = message["From"]
mailbox = sender.addresses[0] if sender is not None and sender.addresses else None
defects = list(message.defects)
text_lines = None
text_type = ""
attachment = None
for part in message.walk():
    defects += list(part.defects)
    if part.is_multipart():
        continue
    if part.get_content_disposition() == "attachment":
        attachment = {
            "filename": part.get_filename() or "",
            "payload": base64.b64encode(part.get_payload(decode=True) or b"").decode("ascii"),
        }
    elif text_lines is None and part.get_content_type() == "text/plain":
        content = part.get_content()
        text_lines = content.split("\n")
        if text_lines and text_lines[-1] == "":
            text_lines.pop()
        text_type = "%s %s" % (part.get_content_type(),
                               part.get("Content-Transfer-Encoding", "7bit").strip().lower())

json.dump({
    "subject": str(message["Subject"] or ""),
    "name": mailbox.display_name if mailbox else "",
    "address": mailbox.addr_spec if mailbox else "",
    "organization": str(message["Organization"] or ""),
    "user_agent": str(message["User-Agent"] or ""),
    "message_id": str(message["Message-ID"] or ""),
    "headers": counts,
    "multipart": message.is_multipart(),
    "text_type": text_type,
    "text": text_lines or [],
    "attachment": attachment,
    "defects": [type(d).__name__ for d in defects],
    "longest_line": max(len(line) for line in lines),
}, sys.stdout)
