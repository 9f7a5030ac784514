#!/usr/bin/python3
"""SMTP servers on loopback for the mail tests.

Usage: smtp_server.py WORKDIR

Runs three servers on free ports of 127.0.0.1:
  plain     AUTH offered, not required, no TLS
  starttls  STARTTLS and AUTH required
  implicit  TLS from the first byte, AUTH required
with a self-signed certificate made in WORKDIR. When they listen, WORKDIR/ports.json names their
ports. Every message taken is parsed with Python's e-mail parser and written as
WORKDIR/mail/NNNN.json (written as .tmp, then renamed) for the test to read. The servers stop when
standard input closes (the test ended, however it ended) or after ten minutes.
"""

import asyncio
import base64
import email
import email.policy
import email.quoprimime
import json
import os
import re
import socket
import ssl
import subprocess
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult

# Throwaway credentials of this test server only.
USER = "tester@example.org"
PASSWORD = "test-secret"

warnings.simplefilter("ignore")


def b64(data):
    return base64.b64encode(data or b"").decode("ascii")


def mailboxes(message, name):
    header = message[name]
    if header is None:
        return []
    return [[a.display_name, a.addr_spec] for a in header.addresses]


ENCODED_WORD = re.compile(r"=\?([^?]+)\?([BbQq])\?([^?]*)\?=")


def lone_word_defects(raw):
    """RFC 2047: every encoded word must decode on its own. Python's parser joins neighbouring
    words before decoding, so a character split between two words would pass unnoticed there."""
    defects = []
    head = raw.split(b"\r\n\r\n", 1)[0].decode("ascii", "replace")
    for charset, kind, text in ENCODED_WORD.findall(head):
        try:
            if kind in "Bb":
                data = base64.b64decode(text, validate=True)
            else:
                data = email.quoprimime.header_decode(text).encode("latin-1")
            data.decode(charset, "strict")
        except (ValueError, LookupError) as error:
            defects.append("encoded word not decodable alone: %s (%s)" % (text, error))
    return defects


def describe(server_name, server, session, envelope):
    raw = envelope.original_content or envelope.content
    message = email.message_from_bytes(raw, policy=email.policy.default)
    defects = [repr(d) for d in message.defects] + lone_word_defects(raw)
    parts = []
    for part in message.iter_parts():
        defects += [repr(d) for d in part.defects]
        parts.append({
            "content_type": part.get_content_type(),
            "charset": part.get_content_charset(),
            "disposition": part.get_content_disposition(),
            "filename": part.get_filename(),
            "data_b64": b64(part.get_payload(decode=True)),
        })
    ssl_object = server.transport.get_extra_info("ssl_object")
    login = None
    if session.authenticated and session.auth_data is not None:
        login = session.auth_data.login.decode("utf-8")
    return {
        "server": server_name,
        "tls": ssl_object.version() if ssl_object is not None else None,
        "auth_login": login,
        "mail_from": envelope.mail_from,
        "rcpt_tos": envelope.rcpt_tos,
        "header_names": list(message.keys()),
        "from": mailboxes(message, "From"),
        "to": mailboxes(message, "To"),
        "subject": str(message["Subject"]) if message["Subject"] is not None else None,
        "content_type": message.get_content_type(),
        "is_multipart": message.is_multipart(),
        "parts": parts,
        "defects": defects,
        "raw_b64": b64(raw),
    }


class Recorder:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    def handler(self, server_name):
        recorder = self

        class Handler:
            async def handle_DATA(self, server, session, envelope):
                record = describe(server_name, server, session, envelope)
                recorder.count += 1
                path = os.path.join(recorder.folder, "%04d.json" % recorder.count)
                with open(path + ".tmp", "w", encoding="utf-8") as f:
                    json.dump(record, f, indent=1)
                os.replace(path + ".tmp", path)
                return "250 OK"

        return Handler()


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (auth_data is not None and auth_data.login == USER.encode()
          and auth_data.password == PASSWORD.encode())
    return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)


def make_certificate(folder):
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                    "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                    "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    return context


def listening_socket():
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", 0))
    sock.listen(16)
    return sock


def main():
    folder = sys.argv[1]
    mail_folder = os.path.join(folder, "mail")
    os.makedirs(mail_folder, exist_ok=True)
    context = make_certificate(folder)
    recorder = Recorder(mail_folder)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    servers = {
        "plain": (dict(auth_require_tls=False), None),
        "starttls": (dict(tls_context=context, require_starttls=True, auth_required=True), None),
        "implicit": (dict(auth_required=True, auth_require_tls=False), context),
    }
    ports = {}
    for name, (options, wrap) in servers.items():
        sock = listening_socket()
        ports[name] = sock.getsockname()[1]

        def factory(name=name, options=options):
            return SMTP(recorder.handler(name), hostname="localhost", authenticator=authenticator,
                        loop=loop, **options)

        loop.run_until_complete(loop.create_server(factory, sock=sock, ssl=wrap))

    ready = os.path.join(folder, "ports.json")
    with open(ready + ".tmp", "w", encoding="utf-8") as f:
        json.dump(ports, f)
    os.replace(ready + ".tmp", ready)

    def on_input():
        if not os.read(sys.stdin.fileno(), 4096):
            loop.stop()

    loop.add_reader(sys.stdin.fileno(), on_input)
    loop.call_later(600, loop.stop)
    loop.run_forever()


if __name__ == "__main__":
    main()
