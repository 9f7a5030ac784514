#!/usr/bin/env python3
"""A stand-in for the Google Drive API v3 (files resource, resumable uploads) and the Google OAuth
endpoints for the tests, written from the public API documentation. Items live in memory, by id,
with parents; names may repeat within a folder as they may on the service. Listens on 127.0.0.1.

Usage: googledrive_standin.py PORT [--page-size N]

API (below /drive/v3 and /upload/drive/v3):
  GET    files?q=..&pageSize=..&pageToken=..&fields=..   listing; q of "and"-joined terms:
         'ID' in parents, name = 'X', name != 'X', mimeType = 'X', mimeType != 'X', trashed = B
  GET    files/ID[?alt=media]      an item, or its content
  POST   files                     a folder (or an empty file) from its metadata
  PATCH  files/ID[?addParents=..&removeParents=..]   name, trashed, modifiedTime; moves
  DELETE files/ID                  for good, a folder with everything below it
  POST   /upload/drive/v3/files?uploadType=resumable  starts a session (Location header)
  PUT    the session address       "Content-Range: bytes A-B/T" pieces (multiples of 256 KiB but
                                   the last), "bytes */T" asks where the session stands; 308 with
                                   "Range: bytes=0-N" until complete, then 200 and the item
Answers carry only the fields asked for (fields=...), as the service's partial answers do.
A page holds at most --page-size items, whatever pageSize asks.

Control endpoints for the tests (POST, JSON bodies):
  /test/fault     {"kind": ..., "count": N, "skip": M, ...} arms a fault for matching requests:
                  "expire"      401 to the next N API calls (the access token is dropped)
                  "forbidden"   403 (insufficient permissions) to the next N API calls
                  "busy"        429 with Retry-After "retry_after" (omitted when absent)
                  "server"      503 to the next N upload pieces (the piece is not stored)
                  "drop_upload" close the connection after "after" bytes of the next N pieces
                  "lose_answer" store the next N pieces but close without answering
  /test/state     {"tree": {path: size or -1 for folders}, "sessions": N, "calls": [...]}
  /test/file      {"path": P} the content of the one file at P (409 when P names several)
  /test/exists    {"path": P} {"exists": bool, "count": N}
  /test/put       {"path": P, "data": base64, "folder": bool, "trashed": bool, "shared_with_me": bool}
                  makes an item (missing parents too; a new one even when the name exists)
  /test/sessions  {"action": "expire"} forgets every upload session
  /test/refresh   a valid refresh token; /test/revoke makes every token invalid
  /test/reset     forgets everything; /test/clear_calls
OAuth: GET /o/oauth2/auth redirects to redirect_uri with a code and the state it was given;
POST /o/oauth2/token takes authorization_code (redirect_uri must match, the PKCE verifier is
checked when a challenge was given, the client secret must be sent) and refresh_token.
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
PAGE_SIZE = 1000
FOLDER = "application/vnd.google-apps.folder"
GRANULE = 262144


def fresh_state():
    return {
        "items": {},      # id -> dict(name, mime, parents, data, trashed, created, modified, shared_with_me)
        "sessions": {},   # upload id -> dict(meta, data, size, fields, parents)
        "pages": {},      # page token -> (query key, offset)
        "codes": {},
        "refresh": {},
        "access": {},
        "faults": [],
        "calls": [],
        "counter": 0,
        "clock": 1700000000.0,
    }


STATE = fresh_state()


def next_id(prefix="id"):
    STATE["counter"] += 1
    return f"{prefix}{STATE['counter']:06d}x"


def stamp():
    # A clock that moves on with every change, so that creation times order the items.
    STATE["clock"] += 1.0
    t = STATE["clock"]
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(t)) + ".%03dZ" % int((t % 1) * 1000)


def take_fault(kind):
    for fault in STATE["faults"]:
        if fault["kind"] == kind and fault["count"] > 0:
            if fault.get("skip", 0) > 0:
                fault["skip"] -= 1
                return None
            fault["count"] -= 1
            return fault
    return None


class ApiError(Exception):
    def __init__(self, status, message, reason):
        super().__init__(message)
        self.status = status
        self.message = message
        self.reason = reason

    def body(self):
        return {"error": {"code": self.status, "message": self.message,
                          "errors": [{"domain": "global", "reason": self.reason, "message": self.message}]}}


def not_found(item_id):
    return ApiError(404, f"File not found: {item_id}.", "notFound")


def resolve_parent(pid):
    return "root" if pid == "root" else pid


def make_item(name, mime, parents, data=b"", shared_with_me=False):
    iid = next_id()
    now = stamp()
    STATE["items"][iid] = {"name": name, "mime": mime, "parents": list(parents), "data": bytes(data),
                           "trashed": False, "created": now, "modified": now,
                           "shared_with_me": shared_with_me}
    return iid


def live(iid):
    item = STATE["items"].get(iid)
    return item is not None and not item["trashed"]


def full_resource(iid):
    item = STATE["items"][iid]
    resource = {
        "kind": "drive#file",
        "id": iid,
        "name": item["name"],
        "mimeType": item["mime"],
        "parents": item["parents"],
        "trashed": item["trashed"],
        "createdTime": item["created"],
        "modifiedTime": item["modified"],
        "capabilities": {"canDownload": item["mime"] != FOLDER, "canEdit": True},
        "webViewLink": f"https://drive.example/{iid}",
        "shared": False,
        "writersCanShare": True,
        "ownedByMe": not item["shared_with_me"],
        "owners": [{"displayName": "Test", "emailAddress": "test@example.com"}],
    }
    if item["mime"] != FOLDER:
        resource["size"] = str(len(item["data"]))
    if item["shared_with_me"]:
        resource["sharedWithMeTime"] = item["created"]
    return resource


def parse_fields(text):
    """'a,b/c,d(e,f)' -> {'a': None, 'b': {'c': None}, 'd': {'e': None, 'f': None}}"""
    pos = 0

    def parse_list():
        nonlocal pos
        result = {}
        while pos < len(text):
            start = pos
            while pos < len(text) and text[pos] not in ",()":
                pos += 1
            name = text[start:pos].strip()
            sub = None
            if pos < len(text) and text[pos] == "(":
                pos += 1
                sub = parse_list()
                if pos >= len(text) or text[pos] != ")":
                    raise ApiError(400, "Invalid field selection", "invalidParameter")
                pos += 1
            if name:
                node = result
                parts = name.split("/")
                for part in parts[:-1]:
                    node = node.setdefault(part, {}) or node.setdefault(part, {})
                last = parts[-1]
                if sub is None:
                    node[last] = None if last not in node else node[last]
                else:
                    node[last] = sub
            if pos < len(text) and text[pos] == ",":
                pos += 1
                continue
            break
        return result

    fields = parse_list()
    if pos != len(text):
        raise ApiError(400, "Invalid field selection", "invalidParameter")
    return fields


def select(obj, fields):
    if fields is None:
        return obj
    if isinstance(obj, list):
        return [select(x, fields) for x in obj]
    if not isinstance(obj, dict):
        return obj
    out = {}
    for key, sub in fields.items():
        if key in obj:
            out[key] = select(obj[key], sub)
    return out


DEFAULT_FILE_FIELDS = {"kind": None, "id": None, "name": None, "mimeType": None}


def item_answer(iid, fields_text):
    if fields_text:
        return select(full_resource(iid), parse_fields(fields_text))
    return select(full_resource(iid), DEFAULT_FILE_FIELDS)


def tokenize_query(q):
    tokens = []
    i = 0
    while i < len(q):
        c = q[i]
        if c.isspace():
            i += 1
        elif c == "'":
            i += 1
            value = ""
            while True:
                if i >= len(q):
                    raise ApiError(400, "Invalid Value", "invalid")
                if q[i] == "\\":
                    if i + 1 >= len(q) or q[i + 1] not in "\\'":
                        raise ApiError(400, "Invalid Value", "invalid")
                    value += q[i + 1]
                    i += 2
                elif q[i] == "'":
                    i += 1
                    break
                else:
                    value += q[i]
                    i += 1
            tokens.append(("str", value))
        elif c in "=!":
            if q.startswith("!=", i):
                tokens.append(("op", "!="))
                i += 2
            else:
                tokens.append(("op", "="))
                i += 1
        else:
            start = i
            while i < len(q) and not q[i].isspace() and q[i] not in "=!'":
                i += 1
            tokens.append(("word", q[start:i]))
    return tokens


def parse_query(q):
    """A list of predicates on an item id, all of which must hold."""
    tokens = tokenize_query(q)
    preds = []
    i = 0
    while i < len(tokens):
        t = tokens[i]
        if t[0] == "str" and i + 2 < len(tokens) and tokens[i + 1] == ("word", "in") and tokens[i + 2] == ("word", "parents"):
            pid = t[1]
            preds.append(lambda iid, pid=pid: pid in STATE["items"][iid]["parents"])
            i += 3
        elif t == ("word", "name") or t == ("word", "mimeType"):
            if i + 2 >= len(tokens) or tokens[i + 1][0] != "op" or tokens[i + 2][0] != "str":
                raise ApiError(400, "Invalid Value", "invalid")
            key = "name" if t[1] == "name" else "mime"
            op, value = tokens[i + 1][1], tokens[i + 2][1]
            if op == "=":
                preds.append(lambda iid, k=key, v=value: STATE["items"][iid][k] == v)
            else:
                preds.append(lambda iid, k=key, v=value: STATE["items"][iid][k] != v)
            i += 3
        elif t == ("word", "trashed"):
            if i + 2 >= len(tokens) or tokens[i + 1] != ("op", "=") or tokens[i + 2][0] != "word" \
                    or tokens[i + 2][1] not in ("true", "false"):
                raise ApiError(400, "Invalid Value", "invalid")
            want = tokens[i + 2][1] == "true"
            preds.append(lambda iid, w=want: STATE["items"][iid]["trashed"] == w)
            i += 3
        else:
            raise ApiError(400, "Invalid Value", "invalid")
        if i < len(tokens):
            if tokens[i] != ("word", "and"):
                raise ApiError(400, "Invalid Value", "invalid")
            i += 1
            if i >= len(tokens):
                raise ApiError(400, "Invalid Value", "invalid")
    return preds


def list_files(query):
    q = query.get("q", "")
    preds = parse_query(q) if q else [lambda iid: not STATE["items"][iid]["trashed"]]
    page_size = min(int(query.get("pageSize", "100")), 1000, PAGE_SIZE)
    if page_size < 1:
        raise ApiError(400, "Invalid Value", "invalid")
    matches = sorted(iid for iid in STATE["items"] if all(p(iid) for p in preds))
    offset = 0
    token = query.get("pageToken")
    if token is not None:
        entry = STATE["pages"].get(token)
        if entry is None or entry[0] != q:
            raise ApiError(400, "Invalid Value", "invalid")
        offset = entry[1]
    page = matches[offset:offset + page_size]
    fields_text = query.get("fields", "")
    fields = parse_fields(fields_text) if fields_text else {"nextPageToken": None, "kind": None,
                                                            "files": DEFAULT_FILE_FIELDS}
    answer = {"kind": "drive#fileList", "files": [full_resource(iid) for iid in page]}
    if offset + page_size < len(matches):
        token = "page-" + secrets.token_hex(6)
        STATE["pages"][token] = (q, offset + page_size)
        answer["nextPageToken"] = token
    return select(answer, fields)


def check_name(meta):
    name = meta.get("name")
    if name is None:
        return None
    if not isinstance(name, str):
        raise ApiError(400, "Invalid Value", "invalid")
    return name


def check_parents(parents):
    for pid in parents:
        if pid != "root" and (not live(pid) or STATE["items"][pid]["mime"] != FOLDER):
            raise not_found(pid)


def delete_tree(iid):
    for child in [c for c, item in STATE["items"].items() if iid in item["parents"]]:
        delete_tree(child)
    STATE["items"].pop(iid, None)


def path_items(path):
    """Every live item at the "/"-path (names may repeat)."""
    current = ["root"]
    for name in [p for p in path.split("/") if p]:
        nxt = []
        for pid in current:
            nxt += [iid for iid, item in STATE["items"].items()
                    if pid in item["parents"] and item["name"] == name and not item["trashed"]]
        current = nxt
    return [] if current == ["root"] else current


def tree():
    result = {}

    def walk(pid, prefix):
        for iid, item in sorted(STATE["items"].items()):
            if pid in item["parents"] and not item["trashed"]:
                path = prefix + "/" + item["name"]
                key = path
                n = 2
                while key in result:
                    key = f"{path} #{n}"
                    n += 1
                result[key] = -1 if item["mime"] == FOLDER else len(item["data"])
                if item["mime"] == FOLDER:
                    walk(iid, path)

    walk("root", "")
    return result


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, code, body=b"", content_type="application/json; charset=UTF-8", headers=()):
        self.send_response(code)
        if body or code not in (200, 204, 308):
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def send_json(self, code, obj, headers=()):
        self.send(code, json.dumps(obj, ensure_ascii=False).encode(), headers=headers)

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

    def do_PATCH(self):
        self.dispatch("PATCH")

    def do_PUT(self):
        self.dispatch("PUT")

    def do_DELETE(self):
        self.dispatch("DELETE")

    def dispatch(self, method):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        path = url.path
        if path.startswith("/test/") and method == "POST":
            return self.control(path)
        if path == "/o/oauth2/auth" and method == "GET":
            return self.authorize(query)
        if path == "/o/oauth2/token" and method == "POST":
            return self.token()
        api = path.startswith("/drive/v3/files")
        upload = path == "/upload/drive/v3/files"
        if not api and not upload:
            self.read_body()
            return self.send_json(404, ApiError(404, "Not Found", "notFound").body())
        session = upload and method == "PUT"
        kind = self.call_name(method, path, query)
        drop = lose = server = None
        with LOCK:
            STATE["calls"].append(kind)
            auth = self.headers.get("Authorization", "")
            token = auth[len("Bearer "):] if auth.startswith("Bearer ") else ""
            expired = take_fault("expire")
            forbidden = take_fault("forbidden") if not expired else None
            busy = take_fault("busy") if not (expired or forbidden) else None
            if session and not (expired or forbidden or busy):
                server = take_fault("server")
                drop = take_fault("drop_upload") if not server else None
                lose = take_fault("lose_answer") if not (server or drop) else None
            valid = token in STATE["access"]
            if expired:
                STATE["access"].pop(token, None)
        if expired or not valid:
            self.read_body()
            return self.send_json(401, ApiError(401, "Request had invalid authentication credentials.",
                                                "authError").body())
        if forbidden:
            self.read_body()
            return self.send_json(403, ApiError(403, "Insufficient Permission", "insufficientPermissions").body())
        if busy:
            self.read_body()
            headers = [("Retry-After", str(busy["retry_after"]))] if "retry_after" in busy else []
            return self.send_json(429, ApiError(429, "Rate Limit Exceeded", "rateLimitExceeded").body(),
                                  headers=headers)
        if server:
            self.read_body()
            return self.send_json(503, ApiError(503, "Service Unavailable", "backendError").body())
        if drop:
            self.read_body(drop_after=drop.get("after", 1))
            self.close_connection = True
            self.connection.shutdown(2)
            return
        body = self.read_body()
        if body is None:
            return
        try:
            with LOCK:
                if upload:
                    result = self.upload(method, query, body)
                else:
                    result = self.files(method, path[len("/drive/v3/files"):], query, body)
            if lose:
                self.close_connection = True
                self.connection.shutdown(2)
                return
            code, payload, headers = result
            if isinstance(payload, (bytes, bytearray)):
                return self.send(code, bytes(payload), "application/octet-stream", headers=headers)
            if payload is None:
                return self.send(code, b"", headers=headers)
            return self.send_json(code, payload, headers=headers)
        except ApiError as error:
            return self.send_json(error.status, error.body())
        except (KeyError, TypeError, ValueError) as error:
            return self.send_json(400, ApiError(400, f"Bad Request: {error}", "badRequest").body())

    @staticmethod
    def call_name(method, path, query):
        if path == "/upload/drive/v3/files":
            if method == "POST":
                return "upload:start"
            return "upload:piece"
        rest = path[len("/drive/v3/files"):]
        if method == "GET" and rest == "":
            return "list"
        if method == "GET":
            return "media" if query.get("alt") == "media" else "get"
        return {"POST": "create", "PATCH": "update", "DELETE": "delete"}.get(method, method)

    def files(self, method, rest, query, body):
        if query.get("supportsAllDrives") not in (None, "true", "false"):
            raise ApiError(400, "Invalid Value", "invalid")
        fields_text = query.get("fields", "")
        if rest == "" and method == "GET":
            return 200, list_files(query), []
        if rest == "" and method == "POST":
            if not self.headers.get("Content-Type", "").startswith("application/json"):
                raise ApiError(400, "Bad Request", "badContent")
            meta = json.loads(body or b"{}")
            name = check_name(meta) or "Untitled"
            parents = [resolve_parent(p) for p in meta.get("parents", ["root"])]
            check_parents(parents)
            iid = make_item(name, meta.get("mimeType", "application/octet-stream"), parents)
            if "modifiedTime" in meta:
                STATE["items"][iid]["modified"] = meta["modifiedTime"]
            return 200, item_answer(iid, fields_text), []
        iid = rest.lstrip("/")
        if "/" in iid or not iid:
            raise ApiError(404, "Not Found", "notFound")
        if iid == "root":
            raise ApiError(400, "The root folder cannot be changed here.", "invalid")
        if iid not in STATE["items"]:
            raise not_found(iid)
        item = STATE["items"][iid]
        if method == "GET":
            if query.get("alt") == "media":
                if item["mime"] == FOLDER:
                    raise ApiError(403, "Only files with binary content can be downloaded.", "fileNotDownloadable")
                return 200, item["data"], []
            return 200, item_answer(iid, fields_text), []
        if method == "PATCH":
            meta = json.loads(body or b"{}") if body else {}
            if body and not self.headers.get("Content-Type", "").startswith("application/json"):
                raise ApiError(400, "Bad Request", "badContent")
            name = check_name(meta)
            add = [resolve_parent(p) for p in query.get("addParents", "").split(",") if p]
            remove = [resolve_parent(p) for p in query.get("removeParents", "").split(",") if p]
            check_parents(add)
            for pid in remove:
                if pid not in item["parents"]:
                    raise ApiError(400, "The parent is not a parent of the file.", "invalid")
            if name is not None:
                item["name"] = name
            if "trashed" in meta:
                item["trashed"] = bool(meta["trashed"])
            item["modified"] = meta.get("modifiedTime", stamp())
            item["parents"] = [p for p in item["parents"] if p not in remove] + [p for p in add if p not in item["parents"]]
            return 200, item_answer(iid, fields_text), []
        if method == "DELETE":
            if item["shared_with_me"]:
                raise ApiError(403, "The user does not have sufficient permissions for this file.",
                               "insufficientFilePermissions")
            delete_tree(iid)
            return 204, None, []
        raise ApiError(405, "Method Not Allowed", "methodNotAllowed")

    def upload(self, method, query, body):
        if method == "POST":
            if query.get("uploadType") != "resumable":
                raise ApiError(400, "This stand-in takes resumable uploads only.", "badRequest")
            if not self.headers.get("Content-Type", "").startswith("application/json"):
                raise ApiError(400, "Bad Request", "badContent")
            meta = json.loads(body or b"{}")
            check_name(meta)
            parents = [resolve_parent(p) for p in meta.get("parents", ["root"])]
            check_parents(parents)
            announced = self.headers.get("X-Upload-Content-Length")
            uid = secrets.token_hex(8)
            STATE["sessions"][uid] = {
                "meta": meta, "parents": parents, "data": bytearray(),
                "size": int(announced) if announced is not None else None,
                "fields": query.get("fields", ""),
                "type": self.headers.get("X-Upload-Content-Type", "application/octet-stream"),
            }
            host = self.headers.get("Host", "127.0.0.1")
            location = f"http://{host}/upload/drive/v3/files?uploadType=resumable&upload_id={uid}"
            return 200, None, [("Location", location)]
        if method != "PUT":
            raise ApiError(405, "Method Not Allowed", "methodNotAllowed")
        uid = query.get("upload_id", "")
        session = STATE["sessions"].get(uid)
        if session is None:
            raise ApiError(404, "Not Found", "notFound")
        content_range = self.headers.get("Content-Range", "")
        if not content_range.startswith("bytes "):
            raise ApiError(400, "Missing Content-Range", "badRequest")
        byte_range, _, total_text = content_range[len("bytes "):].partition("/")
        total = None if total_text == "*" else int(total_text)
        if session["size"] is not None and total is not None and total != session["size"]:
            raise ApiError(400, "The upload's size differs from the announced one.", "badRequest")
        if byte_range == "*":
            if body:
                raise ApiError(400, "A status request has no body.", "badRequest")
        else:
            first, _, last = byte_range.partition("-")
            first, last = int(first), int(last)
            if first != len(session["data"]) or last - first + 1 != len(body):
                raise ApiError(400, "Invalid Content-Range", "badRequest")
            if total is None or last + 1 < total:
                if len(body) % GRANULE != 0:
                    raise ApiError(400, "A piece but the last must be a multiple of 262144 bytes.", "badRequest")
            if total is not None and last + 1 > total:
                raise ApiError(400, "Invalid Content-Range", "badRequest")
            session["data"] += body
        if total is not None and len(session["data"]) == total:
            meta = session["meta"]
            iid = make_item(meta.get("name") or "Untitled", meta.get("mimeType", session["type"]),
                            session["parents"], session["data"])
            del STATE["sessions"][uid]
            return 200, item_answer(iid, session["fields"]), []
        headers = [("Range", f"bytes=0-{len(session['data']) - 1}")] if session["data"] else []
        return 308, None, headers

    def authorize(self, query):
        with LOCK:
            code = f"code-{secrets.token_hex(8)}"
            STATE["codes"][code] = {"challenge": query.get("code_challenge"), "redirect": query.get("redirect_uri"),
                                    "client_id": query.get("client_id"), "scope": query.get("scope")}
        state = query.get("state", "")
        target = query.get("redirect_uri", "")
        if query.get("client_id") == "deny":
            target += "/?error=access_denied&state=" + urllib.parse.quote(state)
        else:
            target += "/?code=" + code + ("&state=" + urllib.parse.quote(state) if state else "") + \
                      "&scope=" + urllib.parse.quote(query.get("scope", ""))
        self.send(302, b"", headers=[("Location", target)])

    def token(self):
        body = self.read_body() or b""
        form = dict(urllib.parse.parse_qsl(body.decode()))
        with LOCK:
            STATE["calls"].append("token:" + form.get("grant_type", ""))
            if not form.get("client_secret"):
                return self.send_json(401, {"error": "invalid_client", "error_description": "The client secret is missing."})
            grant = form.get("grant_type")
            refresh = None
            if grant == "authorization_code":
                entry = STATE["codes"].pop(form.get("code", ""), None)
                if entry is None:
                    return self.send_json(400, {"error": "invalid_grant", "error_description": "Malformed auth code."})
                if form.get("redirect_uri") != entry["redirect"]:
                    return self.send_json(400, {"error": "redirect_uri_mismatch", "error_description": "Bad Request"})
                if entry["challenge"]:
                    verifier = form.get("code_verifier", "")
                    digest = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).decode().rstrip("=")
                    if digest != entry["challenge"]:
                        return self.send_json(400, {"error": "invalid_grant", "error_description": "Invalid code verifier."})
                refresh = f"refresh-{secrets.token_hex(8)}"
                STATE["refresh"][refresh] = True
            elif grant == "refresh_token":
                if form.get("refresh_token") not in STATE["refresh"]:
                    return self.send_json(400, {"error": "invalid_grant", "error_description": "Token has been expired or revoked."})
            else:
                return self.send_json(400, {"error": "unsupported_grant_type"})
            access = f"access-{secrets.token_hex(8)}"
            STATE["access"][access] = True
        answer = {"access_token": access, "token_type": "Bearer", "expires_in": 3599, "scope": "x"}
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
                return self.send_json(200, {"tree": tree(), "sessions": len(STATE["sessions"]),
                                            "calls": STATE["calls"]})
            if path == "/test/file":
                found = [i for i in path_items(arg["path"]) if STATE["items"][i]["mime"] != FOLDER]
                if len(found) != 1:
                    return self.send_json(404 if not found else 409, {"count": len(found)})
                return self.send(200, STATE["items"][found[0]]["data"], "application/octet-stream")
            if path == "/test/exists":
                found = path_items(arg["path"])
                return self.send_json(200, {"exists": bool(found), "count": len(found)})
            if path == "/test/put":
                names = [p for p in arg["path"].split("/") if p]
                pid = "root"
                for name in names[:-1]:
                    found = [i for i in STATE["items"] if pid in STATE["items"][i]["parents"]
                             and STATE["items"][i]["name"] == name and STATE["items"][i]["mime"] == FOLDER
                             and not STATE["items"][i]["trashed"]]
                    pid = sorted(found)[0] if found else make_item(name, FOLDER, [pid])
                folder = arg.get("folder", False)
                iid = make_item(names[-1], FOLDER if folder else "application/octet-stream", [pid],
                                base64.b64decode(arg.get("data", "")), arg.get("shared_with_me", False))
                STATE["items"][iid]["trashed"] = arg.get("trashed", False)
                return self.send_json(200, {"id": iid})
            if path == "/test/sessions":
                STATE["sessions"].clear()
                return self.send_json(200, {})
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
