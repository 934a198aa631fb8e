"""A real SMTP server on loopback for the mail tests.

Usage: smtp_sink.py FOLDER [--smtputf8]. Stores every message it accepts as FOLDER/<n>.eml
(the data as received, after the server has undone dot-stuffing) and FOLDER/<n>.json (the
EHLO or HELO name, whether it was EHLO, sender and recipients); offers SMTPUTF8 only when
asked; refuses at the end of the data ("554") a message that holds the text
REFUSE-THIS-MESSAGE, prints its port on the first line of standard output and runs until standard
input closes.
"""
import json
import os
import socket
import sys

from aiosmtpd.controller import Controller


def utf8(address):
    """An address as its bytes on the wire read as UTF-8 (the server may keep bytes beyond
    ASCII as surrogate escapes)."""
    return address.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


class Store:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        if b"REFUSE-THIS-MESSAGE" in envelope.content:
            return "554 Refused for the test"
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        data = envelope.original_content
        if data is None:
            data = envelope.content
        with open(base + ".eml", "wb") as f:
            f.write(data)
        with open(base + ".json", "w") as f:
            json.dump({"helo": session.host_name, "ehlo": session.extended_smtp,
                       "mail_from": utf8(envelope.mail_from),
                       "rcpt_tos": [utf8(a) for a in envelope.rcpt_tos]}, f)
        return "250 Message stored"


def main():
    folder = sys.argv[1]
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    controller = Controller(Store(folder), hostname="127.0.0.1", port=port,
                            enable_SMTPUTF8="--smtputf8" in sys.argv[2:])
    controller.start()
    print(port, flush=True)
    try:
        sys.stdin.read()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
