#!/usr/bin/env python3
"""A stand-in for the Dropbox HTTP API v2 (RPC, content and OAuth endpoints) for the tests, written
from the public API documentation. Files live in memory; everything listens on 127.0.0.1 only.

Usage: dropbox_standin.py PORT [--page-size N]

Besides the API it has control endpoints for the tests (POST, JSON bodies):
  /test/fault     {"kind": ..., "count": N, ...} arms a fault for the next matching requests:
                  "expire"      answer 401 expired_access_token to the next N API calls
                  "busy"        answer 429 with Retry-After "retry_after" to the next N API calls
                  "drop_upload" close the connection after reading part of the next N uploads
                                (the chunk is not stored)
                  "lose_answer" store the next N upload chunks but close without answering
  /test/state     answers {"files": {path: size}, "folders": [...], "sessions": {...},
                  "calls": [...], "tokens": {...}}
  /test/file      {"path": P} answers the stored bytes of P
  /test/exists    {"path": P} answers {"exists": true} when P is a file or folder
  /test/sessions  {"action": "drop"|"close"} forgets or closes every open upload session
  /test/refresh   makes a valid refresh token and answers it
  /test/revoke    makes every token invalid
  /test/reset     forgets everything
A fault may hold "skip": how many matching requests pass before it fires.

OAuth: /oauth2/authorize (GET) redirects to redirect_uri with a code and the state it was given;
/oauth2/token accepts grant_type authorization_code (checking the PKCE verifier when a challenge
was given) and refresh_token.
"""
import base64
import hashlib
import json
import secrets
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOCK = threading.RLock()
PAGE_SIZE = 3


def fresh_state():
    return {
        "files": {},       # lower path -> dict(display, data, rev, modified, id)
        "folders": {"": {"display": "", "id": "id:root"}},
        "sessions": {},    # id -> dict(data, closed)
        "cursors": {},     # cursor -> (folder, offset)
        "codes": {},       # code -> dict(challenge, redirect)
        "refresh": {},     # refresh token -> True
        "access": {},      # access token -> True
        "faults": [],
        "calls": [],
        "counter": 0,
    }


STATE = fresh_state()


def next_id():
    STATE["counter"] += 1
    return STATE["counter"]


def now_text():
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())


def take_fault(kind):
    for fault in STATE["faults"]:
        if fault["kind"] == kind and fault["count"] > 0:
            if fault.get("skip", 0) > 0:
                fault["skip"] -= 1
                return None
            fault["count"] -= 1
            return fault
    return None


def parent_of(lower):
    return lower.rsplit("/", 1)[0] if "/" in lower else ""


def file_meta(lower):
    f = STATE["files"][lower]
    return {
        ".tag": "file",
        "name": f["display"].rsplit("/", 1)[-1],
        "path_lower": lower,
        "path_display": f["display"],
        "id": f["id"],
        "client_modified": f["modified"],
        "server_modified": f["modified"],
        "rev": f["rev"],
        "size": len(f["data"]),
    }


def folder_meta(lower):
    f = STATE["folders"][lower]
    return {
        ".tag": "folder",
        "name": f["display"].rsplit("/", 1)[-1],
        "path_lower": lower,
        "path_display": f["display"],
        "id": f["id"],
    }


def meta(lower):
    return file_meta(lower) if lower in STATE["files"] else folder_meta(lower)


class ApiError(Exception):
    def __init__(self, summary, error, status=409):
        super().__init__(summary)
        self.summary = summary
        self.error = error
        self.status = status


def path_error(kind, where="path"):
    tag = {"not_found": "not_found", "conflict": "conflict", "malformed": "malformed_path"}[kind]
    inner = {".tag": tag}
    if kind == "conflict":
        inner = {".tag": "conflict", "conflict": {".tag": "file"}}
    return ApiError(f"{where}/{tag}/..", {".tag": where, where: inner})


def check_path(path):
    if path == "":
        return ""
    if not path.startswith("/") or path.endswith("/") or "//" in path:
        raise path_error("malformed")
    return path.lower()


def exists(lower):
    return lower in STATE["files"] or lower in STATE["folders"]


def store_file(display, data, mode="overwrite"):
    lower = check_path(display)
    if lower in STATE["folders"]:
        raise ApiError("path/conflict/folder/..", {".tag": "path", "reason": {".tag": "conflict", "conflict": {".tag": "folder"}}})
    if parent_of(lower) not in STATE["folders"]:
        # The service creates missing parents of an upload.
        parts = display.split("/")[1:-1]
        walk = ""
        for part in parts:
            walk += "/" + part
            if walk.lower() in STATE["files"]:
                raise ApiError("path/conflict/file/..", {".tag": "path"})
            STATE["folders"].setdefault(walk.lower(), {"display": walk, "id": f"id:{next_id()}"})
    old = STATE["files"].get(lower)
    STATE["files"][lower] = {
        "display": old["display"] if old else display,
        "data": bytes(data),
        "rev": f"{next_id():015x}",
        "modified": now_text(),
        "id": old["id"] if old else f"id:{next_id()}",
    }
    return file_meta(lower)


def rpc(command, arg):
    if command == "/files/list_folder":
        lower = check_path(arg["path"])
        if lower not in STATE["folders"]:
            if lower in STATE["files"]:
                raise ApiError("path/not_folder/..", {".tag": "path", "path": {".tag": "not_folder"}})
            raise path_error("not_found")
        return list_page(lower, 0)
    if command == "/files/list_folder/continue":
        cursor = arg.get("cursor")
        if cursor not in STATE["cursors"]:
            raise ApiError("reset/..", {".tag": "reset"})
        folder, offset = STATE["cursors"].pop(cursor)
        return list_page(folder, offset)
    if command == "/files/create_folder_v2":
        display = arg["path"]
        lower = check_path(display)
        if exists(lower):
            raise ApiError("path/conflict/folder/..", {".tag": "path", "path": {".tag": "conflict", "conflict": {".tag": "folder"}}})
        if parent_of(lower) not in STATE["folders"]:
            # create_folder makes missing parents, as the service does.
            walk = ""
            for part in display.split("/")[1:-1]:
                walk += "/" + part
                if walk.lower() in STATE["files"]:
                    raise ApiError("path/conflict/file/..", {".tag": "path"})
                STATE["folders"].setdefault(walk.lower(), {"display": walk, "id": f"id:{next_id()}"})
        STATE["folders"][lower] = {"display": display, "id": f"id:{next_id()}"}
        return {"metadata": folder_meta(lower)}
    if command == "/files/delete_v2":
        lower = check_path(arg["path"])
        if lower == "" or not exists(lower):
            raise ApiError("path_lookup/not_found/..", {".tag": "path_lookup", "path_lookup": {".tag": "not_found"}})
        result = meta(lower)
        for key in [k for k in STATE["files"] if k == lower or k.startswith(lower + "/")]:
            del STATE["files"][key]
        for key in [k for k in STATE["folders"] if k == lower or k.startswith(lower + "/")]:
            del STATE["folders"][key]
        return {"metadata": result}
    if command == "/files/move_v2":
        src = check_path(arg["from_path"])
        dst_display = arg["to_path"]
        dst = check_path(dst_display)
        if not exists(src):
            raise ApiError("from_lookup/not_found/..", {".tag": "from_lookup", "from_lookup": {".tag": "not_found"}})
        if exists(dst) and dst != src:
            raise ApiError("to/conflict/file/..", {".tag": "to", "to": {".tag": "conflict", "conflict": {".tag": "file"}}})
        if parent_of(dst) not in STATE["folders"]:
            raise ApiError("to/not_found/..", {".tag": "to", "to": {".tag": "not_found"}})
        if src in STATE["files"]:
            entry = STATE["files"].pop(src)
            entry["display"] = dst_display
            STATE["files"][dst] = entry
        else:
            src_display = STATE["folders"][src]["display"]
            for table in ("files", "folders"):
                moved = {}
                for key in [k for k in STATE[table] if k == src or k.startswith(src + "/")]:
                    entry = STATE[table].pop(key)
                    entry["display"] = dst_display + entry["display"][len(src_display):]
                    moved[dst + key[len(src):]] = entry
                STATE[table].update(moved)
        return {"metadata": meta(dst)}
    if command == "/files/get_metadata":
        lower = check_path(arg["path"])
        if not exists(lower) or lower == "":
            raise path_error("not_found")
        return meta(lower)
    raise ApiError("unknown_endpoint", {".tag": "other"}, status=400)


def list_page(folder, offset):
    children = sorted(
        [k for k in STATE["folders"] if k != "" and parent_of(k) == folder]
        + [k for k in STATE["files"] if parent_of(k) == folder]
    )
    page = children[offset:offset + PAGE_SIZE]
    has_more = offset + PAGE_SIZE < len(children)
    cursor = f"cursor-{next_id()}"
    if has_more:
        STATE["cursors"][cursor] = (folder, offset + PAGE_SIZE)
    return {"entries": [meta(k) for k in page], "cursor": cursor, "has_more": has_more}


def lookup_session(cursor, data_len, wrap):
    session = STATE["sessions"].get(cursor.get("session_id"))
    def err(inner, summary):
        if wrap:
            return ApiError("lookup_failed/" + summary, {".tag": "lookup_failed", "lookup_failed": inner})
        return ApiError(summary, inner)
    if session is None:
        raise err({".tag": "not_found"}, "not_found/..")
    if session["closed"]:
        raise err({".tag": "closed"}, "closed/..")
    if cursor.get("offset") != len(session["data"]):
        raise err({".tag": "incorrect_offset", "correct_offset": len(session["data"])}, "incorrect_offset/..")
    return session


def content(command, arg, body):
    if command == "/files/upload":
        if len(body) > 157286400 - 1:
            raise ApiError("payload_too_large/..", {".tag": "payload_too_large"})
        return store_file(arg["path"], body)
    if command == "/files/upload_session/start":
        sid = f"session-{next_id()}"
        STATE["sessions"][sid] = {"data": bytearray(body), "closed": bool(arg.get("close", False))}
        return {"session_id": sid}
    if command == "/files/upload_session/append_v2":
        session = lookup_session(arg["cursor"], len(body), False)
        session["data"] += body
        session["closed"] = bool(arg.get("close", False))
        return None
    if command == "/files/upload_session/finish":
        session = STATE["sessions"].get(arg["cursor"].get("session_id"))
        if session is not None and session["closed"] and arg["cursor"].get("offset") == len(session["data"]):
            pass
        else:
            session = lookup_session(arg["cursor"], len(body), True)
        session["data"] += body
        result = store_file(arg["commit"]["path"], session["data"])
        session["closed"] = True
        return result
    raise ApiError("unknown_endpoint", {".tag": "other"}, status=400)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, code, body=b"", content_type="application/json", headers=()):
        self.send_response(code)
        if body or code != 200:
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def send_json(self, code, obj, headers=()):
        self.send(code, json.dumps(obj).encode(), headers=headers)

    def read_body(self, drop_after=None):
        length = int(self.headers.get("Content-Length", "0"))
        data = bytearray()
        while len(data) < length:
            if drop_after is not None and len(data) >= drop_after:
                return None
            chunk = self.rfile.read(min(65536, length - len(data)))
            if not chunk:
                return None
            data += chunk
        return bytes(data)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/oauth2/authorize":
            query = dict(urllib.parse.parse_qsl(url.query))
            with LOCK:
                code = f"code-{secrets.token_hex(8)}"
                STATE["codes"][code] = {
                    "challenge": query.get("code_challenge"),
                    "redirect": query.get("redirect_uri"),
                    "client_id": query.get("client_id"),
                    "scope": query.get("scope"),
                }
            if "redirect_uri" not in query:
                self.send(200, f"<html><body>Your code: {code}</body></html>".encode(), "text/html")
                return
            # The test's fake browser asks for a wrong state or a denial with these flags.
            state = query.get("state", "")
            if query.get("client_id") == "deny":
                target = query["redirect_uri"] + "/?error=access_denied&state=" + urllib.parse.quote(state)
            else:
                target = query["redirect_uri"] + "/?code=" + code + "&state=" + urllib.parse.quote(state)
            self.send(302, b"", headers=[("Location", target)])
            return
        self.send_json(404, {"error": "not found"})

    def do_POST(self):
        url = urllib.parse.urlsplit(self.path)
        path = url.path
        if path.startswith("/test/"):
            return self.control(path)
        if path == "/oauth2/token":
            return self.token()
        if not path.startswith("/2/"):
            return self.send_json(404, {"error": "not found"})
        command = path[2:]
        is_content = command in ("/files/upload", "/files/download", "/files/upload_session/start",
                                 "/files/upload_session/append_v2", "/files/upload_session/finish")
        drop = None
        with LOCK:
            STATE["calls"].append(command)
            auth = self.headers.get("Authorization", "")
            token = auth[len("Bearer "):] if auth.startswith("Bearer ") else ""
            expired = take_fault("expire")
            busy = take_fault("busy") if not expired else None
            if is_content and command != "/files/download":
                drop = take_fault("drop_upload")
                lose = take_fault("lose_answer") if not drop else None
            else:
                lose = None
        if expired or token not in STATE["access"]:
            self.read_body()
            if expired:
                with LOCK:
                    STATE["access"].pop(token, None)
            return self.send_json(401, {"error_summary": "expired_access_token/..", "error": {".tag": "expired_access_token"}})
        if busy:
            self.read_body()
            return self.send_json(429, {"error_summary": "too_many_requests/..",
                                        "error": {"reason": {".tag": "too_many_requests"}, "retry_after": busy["retry_after"]}},
                                  headers=[("Retry-After", str(busy["retry_after"]))])
        if drop:
            self.read_body(drop_after=drop.get("after", 1))
            self.close_connection = True
            self.connection.shutdown(2)
            return
        body = self.read_body()
        if body is None:
            return
        try:
            if is_content:
                arg_text = self.headers.get("Dropbox-API-Arg", "")
                if any(ord(c) > 127 for c in arg_text):
                    return self.send(400, b"Error in call: Dropbox-API-Arg header must be ASCII", "text/plain")
                arg = json.loads(arg_text)
                if command == "/files/download":
                    # The service refuses a form content type on a download (curl's default for a POST).
                    if self.headers.get("Content-Type", "") not in ("", "text/plain", "application/octet-stream"):
                        return self.send(400, b"Error in call: Bad HTTP Content-Type header", "text/plain")
                    with LOCK:
                        lower = check_path(arg["path"])
                        if lower not in STATE["files"]:
                            raise ApiError("path/not_found/..", {".tag": "path", "path": {".tag": "not_found"}})
                        data = STATE["files"][lower]["data"]
                        result = file_meta(lower)
                    return self.send(200, data, "application/octet-stream",
                                     headers=[("Dropbox-API-Result", json.dumps(result, ensure_ascii=True))])
                if self.headers.get("Content-Type") != "application/octet-stream":
                    return self.send(400, b"Error in call: Bad HTTP Content-Type header", "text/plain")
                with LOCK:
                    result = content(command, arg, body)
                if lose:
                    self.close_connection = True
                    self.connection.shutdown(2)
                    return
                return self.send_json(200, result) if result is not None else self.send(200, b"null")
            if not self.headers.get("Content-Type", "").startswith("application/json"):
                return self.send(400, b"Error in call: Bad HTTP Content-Type header", "text/plain")
            arg = json.loads(body or b"null")
            with LOCK:
                result = rpc(command, arg)
            return self.send_json(200, result)
        except ApiError as error:
            return self.send_json(error.status, {"error_summary": error.summary, "error": error.error})
        except (KeyError, TypeError, ValueError) as error:
            return self.send(400, f"Error in call: {error}".encode(), "text/plain")

    def token(self):
        body = self.read_body() or b""
        form = dict(urllib.parse.parse_qsl(body.decode()))
        with LOCK:
            grant = form.get("grant_type")
            if grant == "authorization_code":
                entry = STATE["codes"].pop(form.get("code", ""), None)
                if entry is None:
                    return self.send_json(400, {"error": "invalid_grant", "error_description": "code doesn't exist or has expired"})
                if entry["challenge"]:
                    verifier = form.get("code_verifier", "")
                    digest = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).decode().rstrip("=")
                    if digest != entry["challenge"] or form.get("redirect_uri") != entry["redirect"]:
                        return self.send_json(400, {"error": "invalid_grant", "error_description": "invalid code verifier"})
                refresh = f"refresh-{secrets.token_hex(8)}"
                STATE["refresh"][refresh] = True
            elif grant == "refresh_token":
                refresh = None
                if form.get("refresh_token") not in STATE["refresh"]:
                    return self.send_json(400, {"error": "invalid_grant", "error_description": "refresh token is invalid or revoked"})
            else:
                return self.send_json(400, {"error": "unsupported_grant_type"})
            access = f"access-{secrets.token_hex(8)}"
            STATE["access"][access] = True
            STATE["calls"].append("token:" + grant)
        answer = {"access_token": access, "token_type": "bearer", "expires_in": 14400}
        if refresh:
            answer["refresh_token"] = refresh
        self.send_json(200, answer)

    def control(self, path):
        global STATE
        body = self.read_body() or b"{}"
        arg = json.loads(body or b"{}")
        with LOCK:
            if path == "/test/fault":
                STATE["faults"].append(arg)
                return self.send_json(200, {})
            if path == "/test/reset":
                STATE = fresh_state()
                return self.send_json(200, {})
            if path == "/test/refresh":
                token = f"refresh-{secrets.token_hex(8)}"
                STATE["refresh"][token] = True
                return self.send_json(200, {"refresh_token": token})
            if path == "/test/revoke":
                STATE["refresh"].clear()
                STATE["access"].clear()
                return self.send_json(200, {})
            if path == "/test/state":
                return self.send_json(200, {
                    "files": {v["display"]: len(v["data"]) for v in STATE["files"].values()},
                    "folders": sorted(v["display"] for k, v in STATE["folders"].items() if k),
                    "sessions": {k: {"size": len(v["data"]), "closed": v["closed"]} for k, v in STATE["sessions"].items()},
                    "calls": STATE["calls"],
                })
            if path == "/test/file":
                lower = arg["path"].lower()
                if lower not in STATE["files"]:
                    return self.send_json(404, {})
                return self.send(200, STATE["files"][lower]["data"], "application/octet-stream")
            if path == "/test/sessions":
                for sid in list(STATE["sessions"]):
                    if arg.get("action") == "drop":
                        del STATE["sessions"][sid]
                    else:
                        STATE["sessions"][sid]["closed"] = True
                return self.send_json(200, {})
            if path == "/test/exists":
                lower = arg["path"].lower()
                return self.send_json(200, {"exists": lower != "" and exists(lower)})
            if path == "/test/clear_calls":
                STATE["calls"] = []
                return self.send_json(200, {})
        self.send_json(404, {})


def main():
    global PAGE_SIZE
    port = int(sys.argv[1])
    if "--page-size" in sys.argv:
        PAGE_SIZE = int(sys.argv[sys.argv.index("--page-size") + 1])
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    server.serve_forever()


if __name__ == "__main__":
    main()
