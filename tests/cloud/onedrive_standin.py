#!/usr/bin/env python3
"""A stand-in for OneDrive through Microsoft Graph v1.0 and the Microsoft sign-in endpoints for the
tests, written from the public Graph documentation of drive items and upload sessions. Files live
in memory; everything listens on 127.0.0.1 only.

Usage: onedrive_standin.py PORT CONTENT_PORT [--page-size N]

PORT serves Graph (/v1.0/me/drive/...) and the sign-in (/common/oauth2/v2.0/authorize and
/token, /common/oauth2/nativeclient). CONTENT_PORT is a second host: the pre-authenticated
download addresses (/download/ID) and upload session addresses (/upload/SESSION). It records every
request that brings an Authorization header ("content_auth" in the state): none should.

Graph, by path from the drive's root (names compared ignoring case, as the service does):
  GET    /v1.0/me/drive                         the drive and its owner
  GET    /v1.0/me/drive/root[:/a/b:]            an item
  GET    .../children                           pages of PAGE_SIZE with @odata.nextLink
  POST   .../children                           {"name", "folder": {}, "@microsoft.graph.conflictBehavior"}
  PATCH  /v1.0/me/drive/root:/a/b:              {"name"} renames; an existing name answers 409
  DELETE /v1.0/me/drive/root:/a/b:              204
  GET    /v1.0/me/drive/root:/a/b:/content      302 to the content host
  PUT    /v1.0/me/drive/root:/a/b:/content      a file of at most 4 MiB
  POST   /v1.0/me/drive/root:/a/b:/createUploadSession
Names the service refuses (" * : < > ? / \\ |, blanks at either end, a trailing full stop, device
names, .lock, desktop.ini, ~$..., _vti_) answer 400.

Upload sessions: GET answers nextExpectedRanges; PUT takes a fragment with Content-Range (a
multiple of 320 KiB except the last; the next expected byte or 416); the last fragment makes the
file (replacing one of the name) and answers 201 with the item; DELETE ends the session.

Control endpoints (POST /test/..., JSON):
  fault     {"kind": ..., "count": N, "skip": M, ...} for the next matching requests:
            "expire"      Graph answers 401 (or "status") and forgets the access token
            "busy"        Graph or content host answers 429 with Retry-After "retry_after"
            "drop_upload" close the connection after reading "after" bytes of a fragment
            "lose_answer" store a fragment but close without answering
            "expire_session" the session of the next fragment is gone (404)
            "foreign_next_link" a listing's next page is on the content host
  state     {"files": {path: size}, "folders": [...], "sessions": {...}, "calls": [...],
            "fragments": [...], "content_auth": [...]}
  file      {"path": P} the stored bytes;  exists {"path": P}
  sessions  {"action": "drop"} forgets every upload session
  refresh   a valid refresh token;  revoke  every token invalid;  reset;  clear_calls
"""
import base64
import hashlib
import json
import re
import secrets
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOCK = threading.RLock()
PAGE_SIZE = 3
PORT = 0
CONTENT_PORT = 0
UNIT = 327680
MAX_SIMPLE = 4 * 1024 * 1024
INVALID = set('"*:<>?/\\|')
DEVICES = {"con", "prn", "aux", "nul"} | {f"com{i}" for i in range(10)} | {f"lpt{i}" for i in range(10)}


def fresh_state():
    return {
        "items": {"": {"display": "", "id": "root", "dir": True, "data": b"", "modified": now_text()}},
        "sessions": {},    # id -> dict(path, data, size)
        "codes": {},
        "refresh": {},
        "access": {},
        "faults": [],
        "calls": [],
        "fragments": [],
        "content_auth": [],
        "downloads": {},   # download id -> lower path
        "counter": 0,
    }


def now_text():
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())


STATE = fresh_state()


def next_id():
    STATE["counter"] += 1
    return STATE["counter"]


def take_fault(kind):
    for fault in STATE["faults"]:
        if fault["kind"] == kind and fault["count"] > 0:
            if fault.get("skip", 0) > 0:
                fault["skip"] -= 1
                return None
            fault["count"] -= 1
            return fault
    return None


class GraphError(Exception):
    def __init__(self, status, code, message):
        super().__init__(message)
        self.status = status
        self.code = code
        self.message = message


def not_found():
    return GraphError(404, "itemNotFound", "The resource could not be found.")


def name_ok(name):
    lower = name.lower()
    if not name or any(c in INVALID for c in name):
        return False
    if name[0] == " " or name[-1] in " .":
        return False
    stem = lower.split(".", 1)[0]
    return not (lower in (".lock", "desktop.ini") or lower.startswith("~$") or "_vti_" in lower or stem in DEVICES)


def check_name(name):
    if not name_ok(name):
        raise GraphError(400, "invalidRequest", "The provided name is not valid.")


def parent_of(lower):
    return lower.rsplit("/", 1)[0] if "/" in lower else ""


def item_json(lower):
    item = STATE["items"][lower]
    parent = parent_of(lower)
    result = {
        "id": item["id"],
        "name": item["display"].rsplit("/", 1)[-1] if lower else "root",
        "lastModifiedDateTime": item["modified"],
        "fileSystemInfo": {"createdDateTime": item["modified"], "lastModifiedDateTime": item["modified"]},
        "parentReference": {"driveId": "standin-drive", "id": STATE["items"][parent]["id"] if lower else ""},
    }
    if item["dir"]:
        result["folder"] = {"childCount": len(children_of(lower))}
        result["size"] = 0
    else:
        result["file"] = {"mimeType": "application/octet-stream"}
        result["size"] = len(item["data"])
    return result


def children_of(lower):
    return sorted(k for k in STATE["items"] if k and parent_of(k) == lower)


def make_parents(display):
    walk = ""
    for part in display.split("/")[1:-1]:
        walk += "/" + part
        existing = STATE["items"].get(walk.lower())
        if existing is None:
            check_name(part)
            STATE["items"][walk.lower()] = {"display": walk, "id": f"item-{next_id()}", "dir": True,
                                            "data": b"", "modified": now_text()}
        elif not existing["dir"]:
            raise GraphError(409, "nameAlreadyExists", "A file stands in the path.")


def store_file(display, data):
    lower = display.lower()
    check_name(display.rsplit("/", 1)[-1])
    existing = STATE["items"].get(lower)
    if existing is not None and existing["dir"]:
        raise GraphError(409, "nameAlreadyExists", "A folder of the name exists.")
    make_parents(display)
    STATE["items"][lower] = {"display": existing["display"] if existing else display,
                             "id": existing["id"] if existing else f"item-{next_id()}", "dir": False,
                             "data": bytes(data), "modified": now_text()}
    return item_json(lower)


ITEM_PATH = re.compile(r"^/v1\.0/me/drive/root(?::(?P<path>/[^:]*):?)?(?P<rest>/.*)?$")


def parse_item_path(url_path):
    """(display path, lower path, sub-resource) of a Graph item address."""
    match = ITEM_PATH.match(url_path)
    if not match:
        return None
    raw = match.group("path") or ""
    rest = (match.group("rest") or "").lstrip("/")
    names = [urllib.parse.unquote(n) for n in raw.split("/") if n]
    display = "".join("/" + n for n in names)
    return display, display.lower(), rest


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, code, body=b"", content_type="application/json", headers=()):
        self.send_response(code)
        if body:
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def send_json(self, code, obj, headers=()):
        self.send(code, json.dumps(obj).encode(), headers=headers)

    def send_error_json(self, error, headers=()):
        self.send_json(error.status, {"error": {"code": error.code, "message": error.message}}, headers)

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
        self.dispatch("GET")

    def do_POST(self):
        self.dispatch("POST")

    def do_PUT(self):
        self.dispatch("PUT")

    def do_PATCH(self):
        self.dispatch("PATCH")

    def do_DELETE(self):
        self.dispatch("DELETE")

    def dispatch(self, method):
        url = urllib.parse.urlsplit(self.path)
        if self.server.server_port == CONTENT_PORT:
            return self.content_host(method, url)
        if url.path.startswith("/test/"):
            return self.control(url.path)
        if url.path == "/common/oauth2/v2.0/authorize":
            return self.authorize(url)
        if url.path == "/common/oauth2/nativeclient":
            return self.send(200, b"<html><body></body></html>", "text/html")
        if url.path == "/common/oauth2/v2.0/token":
            return self.token()
        if url.path.startswith("/v1.0/"):
            return self.graph(method, url)
        self.send_json(404, {"error": {"code": "notFound", "message": "no such endpoint"}})

    # --- Graph ---------------------------------------------------------------------------------

    def graph(self, method, url):
        with LOCK:
            STATE["calls"].append(f"{method} {urllib.parse.unquote(url.path)}")
            auth = self.headers.get("Authorization", "")
            token = auth[len("Bearer "):] if auth.lower().startswith("bearer ") else ""
            expired = take_fault("expire")
            busy = take_fault("busy") if not expired else None
            if expired:
                STATE["access"].pop(token, None)
            valid = token in STATE["access"]
        if expired or not valid:
            self.read_body()
            status = expired.get("status", 401) if expired else 401
            return self.send_json(status, {"error": {"code": "InvalidAuthenticationToken",
                                                     "message": "Access token has expired or is not yet valid."}})
        if busy:
            self.read_body()
            return self.send_json(429, {"error": {"code": "activityLimitReached", "message": "Too many requests"}},
                                  headers=[("Retry-After", str(busy["retry_after"]))])
        body = self.read_body()
        if body is None:
            return
        try:
            with LOCK:
                if url.path == "/v1.0/me/drive" and method == "GET":
                    return self.send_json(200, {"id": "standin-drive", "driveType": "personal",
                                                "owner": {"user": {"displayName": "Stand In", "id": "user-1"}},
                                                "quota": {"total": 1 << 40, "used": 0, "remaining": 1 << 40}})
                parsed = parse_item_path(url.path)
                if parsed is None:
                    raise GraphError(400, "invalidRequest", "Unsupported address")
                display, lower, rest = parsed
                result = self.graph_item(method, url, display, lower, rest, body)
            if result is not None:
                status, obj, headers = result
                if obj is None:
                    return self.send(status, b"", headers=headers)
                return self.send_json(status, obj, headers)
        except GraphError as error:
            return self.send_error_json(error)
        except (KeyError, TypeError, ValueError) as error:
            return self.send_json(400, {"error": {"code": "invalidRequest", "message": str(error)}})

    def graph_item(self, method, url, display, lower, rest, body):
        items = STATE["items"]
        if rest == "" and method == "GET":
            if lower not in items:
                raise not_found()
            return 200, item_json(lower), ()
        if rest == "children" and method == "GET":
            if lower not in items:
                raise not_found()
            if not items[lower]["dir"]:
                raise GraphError(400, "invalidRequest", "The item is not a folder.")
            query = dict(urllib.parse.parse_qsl(url.query))
            offset = int(query.get("$skiptoken", "0"))
            children = children_of(lower)
            page = {"value": [item_json(k) for k in children[offset:offset + PAGE_SIZE]]}
            if offset + PAGE_SIZE < len(children):
                host_port = PORT
                if take_fault("foreign_next_link"):
                    host_port = CONTENT_PORT
                page["@odata.nextLink"] = (f"http://127.0.0.1:{host_port}{url.path}?$skiptoken={offset + PAGE_SIZE}")
            return 200, page, ()
        if rest == "children" and method == "POST":
            if lower not in items:
                raise not_found()
            if not items[lower]["dir"]:
                raise GraphError(400, "invalidRequest", "The parent is not a folder.")
            arg = json.loads(body or b"{}")
            if "folder" not in arg:
                raise GraphError(400, "invalidRequest", "Only folders are made here.")
            name = arg["name"]
            check_name(name)
            child_display = display + "/" + name
            child = child_display.lower()
            behavior = arg.get("@microsoft.graph.conflictBehavior", "fail")
            if child in items:
                if behavior == "fail":
                    raise GraphError(409, "nameAlreadyExists", "The specified item name already exists.")
                if behavior == "replace":
                    self.remove_tree(child)
                else:
                    raise GraphError(400, "invalidRequest", "The stand-in does not rename.")
            items[child] = {"display": child_display, "id": f"item-{next_id()}", "dir": True, "data": b"",
                            "modified": now_text()}
            return 201, item_json(child), ()
        if rest == "" and method == "DELETE":
            if lower == "" or lower not in items:
                raise not_found()
            self.remove_tree(lower)
            return 204, None, ()
        if rest == "" and method == "PATCH":
            if lower == "" or lower not in items:
                raise not_found()
            arg = json.loads(body or b"{}")
            if set(arg) - {"name"}:
                raise GraphError(400, "invalidRequest", "The stand-in renames only.")
            name = arg["name"]
            check_name(name)
            new_display = parent_of(items[lower]["display"]) + "/" + name
            new_lower = new_display.lower()
            if new_lower in items and new_lower != lower:
                raise GraphError(409, "nameAlreadyExists", "The specified item name already exists.")
            old_display = items[lower]["display"]
            moved = {}
            for key in [k for k in items if k == lower or k.startswith(lower + "/")]:
                entry = items.pop(key)
                entry["display"] = new_display + entry["display"][len(old_display):]
                moved[new_lower + key[len(lower):]] = entry
            items.update(moved)
            return 200, item_json(new_lower), ()
        if rest == "content" and method == "GET":
            if lower not in items or items[lower]["dir"]:
                raise not_found()
            download = secrets.token_hex(8)
            STATE["downloads"][download] = lower
            return 302, None, [("Location", f"http://127.0.0.1:{CONTENT_PORT}/download/{download}?tempauth=t")]
        if rest.startswith("content") and method == "PUT":
            if len(body) > MAX_SIMPLE:
                raise GraphError(413, "requestTooLarge", "Use an upload session.")
            existing = items.get(lower)
            exists = existing is not None
            return (200 if exists else 201), store_file(display, body), ()
        if rest == "createUploadSession" and method == "POST":
            arg = json.loads(body or b"{}")
            item = arg.get("item", {})
            if item.get("@microsoft.graph.conflictBehavior") != "replace":
                raise GraphError(400, "invalidRequest", "The stand-in expects replace.")
            name = display.rsplit("/", 1)[-1]
            if item.get("name", name) != name:
                raise GraphError(400, "invalidRequest", "The name differs from the address.")
            check_name(name)
            sid = f"session-{next_id()}"
            STATE["sessions"][sid] = {"path": display, "data": bytearray()}
            return 200, {"uploadUrl": f"http://127.0.0.1:{CONTENT_PORT}/upload/{sid}",
                         "expirationDateTime": "2099-01-01T00:00:00Z", "nextExpectedRanges": ["0-"]}, ()
        raise GraphError(400, "invalidRequest", f"Unsupported: {method} {rest}")

    def remove_tree(self, lower):
        for key in [k for k in STATE["items"] if k == lower or k.startswith(lower + "/")]:
            del STATE["items"][key]

    # --- content host --------------------------------------------------------------------------

    def content_host(self, method, url):
        with LOCK:
            STATE["calls"].append(f"content {method} {url.path}")
            if "Authorization" in self.headers:
                STATE["content_auth"].append(f"{method} {url.path}")
            busy = take_fault("busy_content")
        if busy:
            self.read_body()
            return self.send_json(429, {"error": {"code": "activityLimitReached", "message": "Too many requests"}},
                                  headers=[("Retry-After", str(busy["retry_after"]))])
        parts = url.path.split("/")
        if len(parts) == 3 and parts[1] == "download" and method == "GET":
            with LOCK:
                lower = STATE["downloads"].get(parts[2])
                item = STATE["items"].get(lower) if lower is not None else None
                data = item["data"] if item else None
            if data is None:
                return self.send_json(404, {"error": {"code": "itemNotFound", "message": "gone"}})
            return self.send(200, data, "application/octet-stream")
        if len(parts) == 3 and parts[1] == "upload":
            return self.upload_session(method, parts[2])
        self.read_body()
        self.send_json(404, {"error": {"code": "itemNotFound", "message": "no such address"}})

    def upload_session(self, method, sid):
        with LOCK:
            session = STATE["sessions"].get(sid)
            expire = take_fault("expire_session") if method == "PUT" else None
            if expire and session is not None:
                del STATE["sessions"][sid]
                session = None
            drop = take_fault("drop_upload") if method == "PUT" and session else None
            lose = take_fault("lose_answer") if method == "PUT" and session and not drop else None
        if session is None:
            self.read_body()
            return self.send_json(404, {"error": {"code": "itemNotFound", "message": "The upload session was not found."}})
        if method == "GET":
            with LOCK:
                received = len(session["data"])
            return self.send_json(200, {"expirationDateTime": "2099-01-01T00:00:00Z",
                                        "nextExpectedRanges": [f"{received}-"]})
        if method == "DELETE":
            with LOCK:
                STATE["sessions"].pop(sid, None)
            return self.send(204)
        if method != "PUT":
            return self.send_json(405, {"error": {"code": "invalidRequest", "message": "method"}})
        if drop:
            self.read_body(drop_after=drop.get("after", 1))
            self.close_connection = True
            self.connection.shutdown(2)
            return
        body = self.read_body()
        if body is None:
            return
        match = re.fullmatch(r"bytes (\d+)-(\d+)/(\d+)", self.headers.get("Content-Range", ""))
        if not match:
            return self.send_json(400, {"error": {"code": "invalidRequest", "message": "Content-Range"}})
        first, last, total = (int(g) for g in match.groups())
        with LOCK:
            STATE["fragments"].append([first, last, total])
            if last - first + 1 != len(body) or last >= total:
                return self.send_json(400, {"error": {"code": "invalidRequest", "message": "range and body differ"}})
            if last + 1 < total and len(body) % UNIT != 0:
                return self.send_json(400, {"error": {"code": "invalidRequest",
                                                      "message": "fragments must be multiples of 320 KiB"}})
            if session.setdefault("size", total) != total:
                return self.send_json(400, {"error": {"code": "invalidRequest", "message": "size changed"}})
            if first != len(session["data"]):
                return self.send_json(416, {"error": {"code": "invalidRange",
                                                      "message": "The fragment does not start at the expected byte."}})
            session["data"] += body
            if len(session["data"]) == total:
                del STATE["sessions"][sid]
                try:
                    result = (201, store_file(session["path"], session["data"]))
                except GraphError as error:
                    return self.send_error_json(error)
            else:
                result = (202, {"expirationDateTime": "2099-01-01T00:00:00Z",
                                "nextExpectedRanges": [f"{len(session['data'])}-"]})
        if lose:
            self.close_connection = True
            self.connection.shutdown(2)
            return
        return self.send_json(*result)

    # --- sign-in -------------------------------------------------------------------------------

    def authorize(self, url):
        query = dict(urllib.parse.parse_qsl(url.query))
        redirect = query.get("redirect_uri", "")
        with LOCK:
            code = f"M.code-{secrets.token_hex(8)}"
            STATE["codes"][code] = {"challenge": query.get("code_challenge"), "redirect": redirect,
                                    "client_id": query.get("client_id"), "scope": query.get("scope")}
        if "offline_access" not in query.get("scope", "").split(" ") or query.get("response_type") != "code":
            return self.send(400, b"<html><body>invalid_request</body></html>", "text/html")
        state = query.get("state")
        tail = "" if state is None else "&state=" + urllib.parse.quote(state)
        if query.get("client_id") == "deny":
            target = redirect + "?error=access_denied" + tail
        else:
            target = redirect + "?code=" + code + tail
        self.send(302, b"", headers=[("Location", target)])

    def token(self):
        body = self.read_body() or b""
        form = dict(urllib.parse.parse_qsl(body.decode()))
        with LOCK:
            grant = form.get("grant_type")
            if "client_secret" in form:
                return self.send_json(400, {"error": "invalid_request",
                                            "error_description": "Public clients can't send a client secret."})
            if grant == "authorization_code":
                entry = STATE["codes"].pop(form.get("code", ""), None)
                if entry is None:
                    return self.send_json(400, {"error": "invalid_grant", "error_description": "The code has expired."})
                if form.get("redirect_uri") != entry["redirect"]:
                    return self.send_json(400, {"error": "invalid_grant", "error_description": "redirect_uri differs"})
                if entry["challenge"]:
                    verifier = form.get("code_verifier", "")
                    digest = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).decode().rstrip("=")
                    if digest != entry["challenge"]:
                        return self.send_json(400, {"error": "invalid_grant",
                                                    "error_description": "The code_verifier does not match."})
            elif grant == "refresh_token":
                if form.get("refresh_token") not in STATE["refresh"]:
                    return self.send_json(400, {"error": "invalid_grant",
                                                "error_description": "The refresh token has expired or was revoked."})
            else:
                return self.send_json(400, {"error": "unsupported_grant_type"})
            # Every answer gives a new refresh token; earlier ones stay valid, as with the service.
            refresh = f"refresh-{secrets.token_hex(8)}"
            STATE["refresh"][refresh] = True
            access = f"access-{secrets.token_hex(8)}"
            STATE["access"][access] = True
            STATE["calls"].append("token:" + grant)
        self.send_json(200, {"access_token": access, "refresh_token": refresh, "token_type": "Bearer",
                             "expires_in": 3600, "scope": form.get("scope", "")})

    # --- control -------------------------------------------------------------------------------

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
                items = STATE["items"]
                return self.send_json(200, {
                    "files": {v["display"]: len(v["data"]) for k, v in items.items() if k and not v["dir"]},
                    "folders": sorted(v["display"] for k, v in items.items() if k and v["dir"]),
                    "sessions": {k: len(v["data"]) for k, v in STATE["sessions"].items()},
                    "calls": STATE["calls"],
                    "fragments": STATE["fragments"],
                    "content_auth": STATE["content_auth"],
                })
            if path == "/test/file":
                item = STATE["items"].get(arg["path"].lower())
                if item is None or item["dir"] or not arg["path"]:
                    return self.send_json(404, {})
                return self.send(200, item["data"], "application/octet-stream")
            if path == "/test/exists":
                lower = arg["path"].lower()
                return self.send_json(200, {"exists": lower != "" and lower in STATE["items"]})
            if path == "/test/sessions":
                STATE["sessions"].clear()
                return self.send_json(200, {})
            if path == "/test/clear_calls":
                STATE["calls"] = []
                STATE["fragments"] = []
                return self.send_json(200, {})
        self.send_json(404, {})


def main():
    global PAGE_SIZE, PORT, CONTENT_PORT
    PORT = int(sys.argv[1])
    CONTENT_PORT = int(sys.argv[2])
    if "--page-size" in sys.argv:
        PAGE_SIZE = int(sys.argv[sys.argv.index("--page-size") + 1])
    content = ThreadingHTTPServer(("127.0.0.1", CONTENT_PORT), Handler)
    content.daemon_threads = True
    threading.Thread(target=content.serve_forever, daemon=True).start()
    server = ThreadingHTTPServer(("127.0.0.1", PORT), Handler)
    server.daemon_threads = True
    server.serve_forever()


if __name__ == "__main__":
    main()
