"""Reads one stored message as a standard mail reader does (Python's email package).

Usage: read_mail.py FILE. Prints a JSON object: "headers" ([name, decoded value] in order),
"parts" (each leaf part's "type", "charset", "filename" and its decoded "text", or "data" in
base64 for other parts), "longest_line" (bytes of the longest line as stored) and "defects"
(what the parser found wrong, as texts).
"""
import base64
import email
import json
import sys
from email import policy


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    message = email.message_from_bytes(raw, policy=policy.default)
    out = {
        "headers": [[name, str(value)] for name, value in message.items()],
        "parts": [],
        "longest_line": max(len(line) for line in raw.split(b"\r\n")),
        "defects": [],
    }
    for part in message.walk():
        out["defects"] += [type(d).__name__ for d in part.defects]
        if part.is_multipart():
            continue
        item = {"type": part.get_content_type(), "charset": part.get_content_charset(),
                "filename": part.get_filename()}
        if part.get_content_maintype() == "text":
            item["text"] = part.get_content()
        else:
            item["data"] = base64.b64encode(part.get_payload(decode=True)).decode("ascii")
        out["parts"].append(item)
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main()
