"""Reads one stored message as a standard mail reader does (Python's email package).

Usage: read_mail.py FILE. Prints a JSON object: "headers" ([name, decoded value] in order),
"addresses" ({name: [[display name, address], ...]} of the address headers), "date" (the
Date header as an ISO date-time, null when it cannot be read), "parts" (each leaf part's
"type", "charset", "filename" and its decoded "text", or "data" in base64 for other parts),
"longest_line" (bytes of the longest line as stored), "defects" (what the parser found
wrong, in the headers and the parts, as texts) and "encoded_words" ({name: [text, ...]} of the
headers that hold RFC 2047 encoded words: each word decoded on its own, null when it does not
decode alone).
"""
import base64
import email
import json
import quopri
import re
import sys
from email import policy


def utf8(text):
    """Header text as RFC 6532 has it, UTF-8 (the parser keeps bytes beyond ASCII as surrogate
    escapes)."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def decode_word(charset, encoding, text):
    """One encoded word's text, strictly decoded by itself; None when it is not whole."""
    try:
        if encoding in "bB":
            data = base64.b64decode(text, validate=True)
        else:
            data = quopri.decodestring(text.replace("_", " "), header=True)
        return data.decode(charset, errors="strict")
    except (ValueError, LookupError):
        return None


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    message = email.message_from_bytes(raw, policy=policy.default)
    out = {
        "headers": [[name, str(value)] for name, value in message.items()],
        "parts": [],
        "longest_line": max(len(line) for line in raw.split(b"\r\n")),
        "defects": [],
        "addresses": {},
        "date": None,
    }
    out["encoded_words"] = {}
    for name, raw_value in message.raw_items():
        words = re.findall(r"=\?([^?]+)\?([bBqQ])\?([^?]*)\?=", raw_value)
        if words:
            out["encoded_words"][name] = [decode_word(*w) for w in words]
    for name, value in message.items():
        out["defects"] += [type(d).__name__ for d in getattr(value, "defects", [])]
        if hasattr(value, "addresses"):
            out["addresses"][name] = [[utf8(a.display_name), utf8(a.addr_spec)]
                                      for a in value.addresses]
    date = message["Date"]
    if date is not None and getattr(date, "datetime", None) is not None:
        out["date"] = date.datetime.isoformat()
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
