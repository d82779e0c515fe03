#!/usr/bin/env python3
"""Reads one article (as the server hands it out) on stdin and prints its MIME leaf parts as
JSON, decoded by Python's email package: a reader's view of what was posted."""
import base64
import email
import email.policy
import json
import sys

message = email.message_from_bytes(sys.stdin.buffer.read(), policy=email.policy.compat32)
parts = []
for part in message.walk():
    if part.is_multipart():
        continue
    payload = part.get_payload(decode=True) or b""
    entry = {
        "type": part.get_content_type(),
        "charset": part.get_content_charset() or "",
        "encoding": (part.get("Content-Transfer-Encoding") or "").strip().lower(),
        "filename": part.get_filename() or "",
        "disposition": (part.get_content_disposition() or ""),
        "payload": base64.b64encode(payload).decode("ascii"),
    }
    if part.get_content_maintype() == "text":
        entry["text"] = payload.decode(entry["charset"] or "ascii", errors="replace")
    parts.append(entry)
json.dump({"multipart": message.is_multipart(), "parts": parts}, sys.stdout)
