#!/usr/bin/env python3
"""A small HTTP(S) server for the HTTP transport tests, on 127.0.0.1 only.

Usage: http_test_server.py PORT [CERT KEY]

  POST /echo        answers JSON: method, content type, body length, body sha256, the body when short,
                    whether an Authorization header came, and the X-Extra header
  GET  /bytes?n=N   answers N bytes (byte i is i % 251)
  GET  /stall       sends the headers and part of a body, then nothing for a long time
  GET  /status?code=C&retry=S   answers status C with a JSON body and Retry-After S
  GET  /redirect?to=URL         answers 302 to URL
  GET  /seen        answers the Authorization headers seen so far, one a line
"""
import hashlib
import json
import ssl
import sys
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SEEN = []


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, code, body, content_type="application/json", headers=()):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def read_body(self):
        length = int(self.headers.get("Content-Length", "0"))
        data = bytearray()
        while len(data) < length:
            chunk = self.rfile.read(min(65536, length - len(data)))
            if not chunk:
                break
            data += chunk
        return bytes(data)

    def note(self, path):
        auth = self.headers.get("Authorization")
        if auth is not None:
            SEEN.append(path + " " + auth)

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        self.note(url.path)
        body = self.read_body()
        if url.path == "/echo":
            reply = {
                "method": self.command,
                "content_type": self.headers.get("Content-Type", ""),
                "length": len(body),
                "sha256": hashlib.sha256(body).hexdigest(),
                "body": body.decode("utf-8", "replace") if len(body) < 4096 else "",
                "authorization": self.headers.get("Authorization", ""),
                "extra": self.headers.get("X-Extra", ""),
            }
            self.answer(200, json.dumps(reply).encode())
        else:
            self.answer(404, b'{"error": "not found"}')

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        self.note(url.path)
        if url.path == "/bytes":
            n = int(query.get("n", "0"))
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(n))
            self.end_headers()
            block = bytes(i % 251 for i in range(251 * 261))
            sent = 0
            while sent < n:
                piece = block[: min(len(block), n - sent)]
                self.wfile.write(piece)
                sent += len(piece)
        elif url.path == "/stall":
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", "1000000")
            self.end_headers()
            self.wfile.write(b"x" * 1000)
            self.wfile.flush()
            time.sleep(60)
        elif url.path == "/status":
            code = int(query.get("code", "500"))
            headers = [("Retry-After", query["retry"])] if "retry" in query else []
            self.answer(code, json.dumps({"status": code}).encode(), headers=headers)
        elif url.path == "/redirect":
            self.answer(302, b"", headers=[("Location", query.get("to", "/"))])
        elif url.path == "/seen":
            self.answer(200, "\n".join(SEEN).encode(), "text/plain")
        else:
            self.answer(404, b'{"error": "not found"}')


def main():
    port = int(sys.argv[1])
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    if len(sys.argv) > 3:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
