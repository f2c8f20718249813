"""A local test website: a real HTTP/1.1 server on 127.0.0.1 that serves a release tree
from a folder and can be told to misbehave on any path.

    site = Website(folder)            # folder laid out like the real website:
    site.start()                      #   client/manifest.json, client/manifest.sig,
    site.url                          #   client/files/<sha256>, games
    site.answer("/client/manifest.json", status=500)
    site.answer("/client/files/*", cut_after=10)       # '*' at the end: a prefix
    site.requests                     # every request, in order
    site.stop()
"""

from __future__ import annotations

import gzip
import hashlib
import http.server
import socket
import threading
import time
import zlib
from dataclasses import dataclass, field
from pathlib import Path
from urllib.parse import urlsplit


@dataclass
class Rule:
    """How to answer requests for one path (or, ending in '*', a path prefix).

    status      the status code sent
    body        the bytes sent instead of the file from the folder (None: the file for
                status 200, a short text naming the status otherwise; a missing file is 404)
    headers     extra response headers
    cut_after   send only this many body bytes, then close; Content-Length still
                announces the whole body
    corrupt     serve wrong bytes of the same length (the first byte flipped)
    delay       seconds to wait before answering
    encoding    "gzip" or "deflate": encode the body when the request accepts it
    force_encoding  encode even when the request does not accept it
    chunked     send the body with chunked transfer encoding instead of Content-Length
    times       apply to this many requests only, then fall back to the next rule
    """

    status: int | None = None
    body: bytes | None = None
    headers: dict[str, str] = field(default_factory=dict)
    cut_after: int | None = None
    corrupt: bool = False
    delay: float = 0.0
    encoding: str | None = None
    force_encoding: bool = False
    chunked: bool = False
    times: int | None = None


@dataclass
class Request:
    method: str
    target: str  # as sent, query included
    path: str  # without the query
    headers: list[tuple[str, str]]
    time: float  # time.monotonic() on arrival

    def header(self, name: str) -> str | None:
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    @property
    def user_agent(self) -> str | None:
        return self.header("User-Agent")


class Website:
    def __init__(self, root: Path):
        self.root = Path(root)
        self.root.mkdir(parents=True, exist_ok=True)
        self.requests: list[Request] = []
        self._rules: list[tuple[str, Rule]] = []
        self._lock = threading.Lock()
        self._server: _Server | None = None
        self._thread: threading.Thread | None = None

    # --- lifecycle -------------------------------------------------------------
    def start(self) -> "Website":
        self._server = _Server(("127.0.0.1", 0), _Handler, self)
        # A short poll interval: stop() waits for the loop to notice, once per test.
        self._thread = threading.Thread(target=self._server.serve_forever, args=(0.02,), name="test-website",
                                        daemon=True)
        self._thread.start()
        return self

    def stop(self) -> None:
        if self._server is not None:
            self._server.shutdown()
            self._server.server_close()
            self._thread.join(timeout=5)
            self._server = None

    def __enter__(self) -> "Website":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    @property
    def port(self) -> int:
        return self._server.server_address[1]

    @property
    def url(self) -> str:
        """The base address, without a trailing '/'."""
        return f"http://127.0.0.1:{self.port}"

    # --- content ---------------------------------------------------------------
    def put(self, path: str, data: bytes) -> Path:
        """Writes a file of the tree, e.g. put("/client/manifest.json", b"...")."""
        target = self.root / path.lstrip("/")
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
        return target

    def put_release_file(self, data: bytes) -> str:
        """Stores data under /client/files/<sha256> and returns the fingerprint."""
        fingerprint = hashlib.sha256(data).hexdigest()
        self.put("/client/files/" + fingerprint, data)
        return fingerprint

    # --- behaviour ---------------------------------------------------------------
    def answer(self, path: str, **how) -> Rule:
        """Adds a rule (see Rule); the latest rule for a path wins."""
        rule = Rule(**how)
        with self._lock:
            self._rules.insert(0, (path, rule))
        return rule

    def clear_rules(self) -> None:
        with self._lock:
            self._rules.clear()

    def _take_rule(self, path: str) -> Rule:
        with self._lock:
            for pattern, rule in self._rules:
                matches = path.startswith(pattern[:-1]) if pattern.endswith("*") else path == pattern
                if not matches or rule.times == 0:
                    continue
                if rule.times is not None:
                    rule.times -= 1
                return rule
        return Rule()

    # --- the log -----------------------------------------------------------------
    def _log(self, request: Request) -> None:
        with self._lock:
            self.requests.append(request)

    def paths(self) -> list[str]:
        with self._lock:
            return [r.path for r in self.requests]

    def requests_for(self, path: str) -> list[Request]:
        with self._lock:
            return [r for r in self.requests if r.path == path]


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, handler, site: Website):
        self.site = site
        super().__init__(address, handler)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "PlovatekTestSite/1.0"

    def log_message(self, format, *args):  # the request log is kept in Website.requests
        pass

    def do_GET(self):
        self._serve(send_body=True)

    def do_HEAD(self):
        self._serve(send_body=False)

    def _refuse(self):
        self._record()
        self._send_plain(405, b"Only GET and HEAD\n")

    do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = _refuse

    def _record(self) -> str:
        path = urlsplit(self.path).path
        site: Website = self.server.site
        site._log(
            Request(method=self.command, target=self.path, path=path, headers=list(self.headers.items()),
                    time=time.monotonic())
        )
        return path

    def _send_plain(self, status: int, body: bytes) -> None:
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def _file_body(self, path: str) -> bytes | None:
        root = self.server.site.root.resolve()
        target = (root / path.lstrip("/")).resolve()
        if root != target and root not in target.parents:
            return None  # no way out of the tree
        return target.read_bytes() if target.is_file() else None

    def _serve(self, send_body: bool) -> None:
        path = self._record()
        rule = self.server.site._take_rule(path)
        if rule.delay:
            time.sleep(rule.delay)

        status = rule.status
        body = rule.body
        if body is None and status in (None, 200):
            body = self._file_body(path)
            if body is None:
                status, body = (404, b"404\n") if status is None else (200, b"")
        if status is None:
            status = 200
        if body is None:
            body = f"{status}\n".encode()  # a status of its own brings its own short body
        if rule.corrupt:
            body = bytes([body[0] ^ 0xFF]) + body[1:] if body else b"\0"

        headers = {"Content-Type": "application/octet-stream"}
        accepted = (self.headers.get("Accept-Encoding") or "").lower()
        if rule.encoding and (rule.force_encoding or rule.encoding in accepted):
            if rule.encoding == "gzip":
                body = gzip.compress(body)
            elif rule.encoding == "deflate":
                body = zlib.compress(body)
            else:
                raise ValueError(f"unknown encoding {rule.encoding!r}")
            headers["Content-Encoding"] = rule.encoding
        headers.update(rule.headers)

        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        if rule.chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(len(body)))
        if rule.cut_after is not None:
            self.send_header("Connection", "close")
        self.end_headers()
        if not send_body:
            return

        sent = body if rule.cut_after is None else body[: rule.cut_after]
        try:
            if rule.chunked:
                for start in range(0, len(sent), 4096):
                    piece = sent[start : start + 4096]
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                if rule.cut_after is None:
                    self.wfile.write(b"0\r\n\r\n")
            else:
                self.wfile.write(sent)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True
            return
        if rule.cut_after is not None:
            # Close hard: the client must see the body end early, not wait for more.
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
