#!/usr/bin/env python3
"""A static HTTPS site for the new-version check tests, on 127.0.0.1 only.

Usage: static_site_server.py PORT ROOT CERT KEY

  GET /PATH   answers the file ROOT/PATH as it is at that moment (404 when there is none);
              when ROOT/PATH.redirect exists instead, answers 302 to the address it holds.
"""
import os
import ssl
import sys
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT = ""


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, code, body, headers=()):
        self.send_response(code)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        parts = [p for p in path.split("/") if p]
        if any(p in (".", "..") for p in parts):
            self.answer(404, b"not found")
            return
        local = os.path.join(ROOT, *parts)
        if os.path.isfile(local + ".redirect"):
            with open(local + ".redirect", "rb") as f:
                target = f.read().strip().decode()
            self.answer(302, b"", [("Location", target)])
        elif os.path.isfile(local):
            with open(local, "rb") as f:
                self.answer(200, f.read(), [("Content-Type", "application/octet-stream")])
        else:
            self.answer(404, b"not found")


def main():
    global ROOT
    port, ROOT, cert, key = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
