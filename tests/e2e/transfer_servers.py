"""Servers on 127.0.0.1 for the transfer tests: HTTP and HTTPS with fault
injection (Python's http.server) and FTP (pyftpdlib), each in a thread of the
test process, each recording what its clients asked for.
"""

from __future__ import annotations

import base64
import io
import os
import re
import socket
import ssl
import struct
import subprocess
import threading
import time
from dataclasses import dataclass, field
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path


@dataclass
class Resource:
    """What the HTTP server answers for one path. Lists indexed by the number
    of the GET for this path (0 = first) apply to that answer only."""
    body: bytes = b""
    ranges: bool = True                 # honour "Range: bytes=N-"
    cut: dict = field(default_factory=dict)    # answer -> absolute offset where the connection ends
    reset: bool = False                 # end cut connections with RST instead of FIN
    stall: dict = field(default_factory=dict)  # answer -> (absolute offset, seconds or threading.Event)
    length: int | None = None           # announced Content-Length of a 200 answer
    status: int | None = None           # answer every GET with this status
    headers: dict = field(default_factory=dict)
    credentials: tuple | None = None    # (user, password, realm): Basic authentication
    content_range: str | None = None    # Content-Range of every 206 answer
    range_status: int | None = None     # answer every GET with a Range with this status
    endless: bool = False               # 200 without a length; data until the client leaves
    sent: list = field(default_factory=list)   # bytes of body sent per answer (endless)


@dataclass
class Request:
    path: str
    request_line: str
    headers: dict


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "TestServer/1.0"

    def log_message(self, *args):  # quiet
        pass

    def do_GET(self):  # noqa: N802
        server: FaultServer = self.server.owner
        target = self.path
        if target.startswith("http://"):  # asked as a proxy
            if server.proxy_credentials:
                user, password, realm = server.proxy_credentials
                expected = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()
                if self.headers.get("Proxy-Authorization") != expected:
                    with server.lock:
                        server.requests.append(Request("<proxy>", self.requestline,
                                                       {k.lower(): v for k, v in self.headers.items()}))
                    return self._plain(407, b"proxy", {"Proxy-Authenticate": f'Basic realm="{realm}"'})
            target = "/" + target.split("/", 3)[3]
        path = target.split("?", 1)[0]
        with server.lock:
            number = sum(1 for r in server.requests if r.path == path)
            server.requests.append(Request(path, self.requestline, {k.lower(): v for k, v in self.headers.items()}))
        for start, answer in server.dynamic.items():
            if path.startswith(start):
                status, headers = answer(path)
                return self._plain(status, b"moved", headers)
        res = server.resources.get(path)
        if res is None:
            return self._plain(404, b"not found")
        if res.status is not None:
            return self._plain(res.status, b"status page", res.headers)
        if res.credentials:
            user, password, realm = res.credentials
            expected = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()
            if self.headers.get("Authorization") != expected:
                return self._plain(401, b"denied", {"WWW-Authenticate": f'Basic realm="{realm}"'})

        if res.range_status is not None and self.headers.get("Range"):
            return self._plain(res.range_status, b"no ranges here")
        if res.endless:
            return self._endless(res)
        body, start, status = res.body, 0, 200
        match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        if match and res.ranges:
            start = int(match.group(1))
            if start >= len(body):
                return self._plain(416, b"", {"Content-Range": f"bytes */{len(body)}"})
            status = 206
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if status == 206:
            self.send_header("Content-Range", res.content_range or f"bytes {start}-{len(body) - 1}/{len(body)}")
            self.send_header("Content-Length", str(len(body) - start))
        else:
            self.send_header("Content-Length", str(res.length if res.length is not None else len(body)))
        for name, value in res.headers.items():
            self.send_header(name, value)
        self.end_headers()

        cut = res.cut.get(number)
        stall = res.stall.get(number)
        offset = start
        end = len(body) if cut is None else min(cut, len(body))
        while offset < end:
            if stall and offset <= stall[0] < offset + 65536:
                piece_end = stall[0]
                self.wfile.write(body[offset:piece_end])
                self.wfile.flush()
                offset = piece_end
                wait = stall[1]
                if isinstance(wait, threading.Event):
                    wait.wait(120)
                else:
                    time.sleep(wait)
                stall = None
                continue
            piece_end = min(end, offset + 65536)
            try:
                self.wfile.write(body[offset:piece_end])
            except OSError:
                return
            offset = piece_end
        if cut is not None:
            self.wfile.flush()
            if res.reset:
                # A reset discards what the client has not read yet: give it
                # time to read the answer's head first, or a loaded machine
                # sees the request fail instead of a body that breaks off.
                time.sleep(0.5)
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            else:
                self.connection.shutdown(socket.SHUT_WR)
            self.close_connection = True

    def _endless(self, res: Resource, limit: int = 256 << 20, seconds: float = 60):
        """A body without a length that goes on until the client leaves (or,
        so that a test ends anyway, `limit` bytes or `seconds` have passed)."""
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
        block, sent, start = bytes(65536), 0, time.time()
        res.sent.append(0)
        try:
            while sent < limit and time.time() - start < seconds:
                self.wfile.write(block)
                sent += len(block)
                res.sent[-1] = sent
        except OSError:
            pass
        self.close_connection = True

    def _plain(self, status: int, body: bytes, headers: dict | None = None):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.end_headers()
        if body:
            self.wfile.write(body)


class FaultServer:
    """HTTP (or HTTPS with a certificate) server in a background thread."""

    def __init__(self, certificate: tuple[Path, Path] | None = None):
        self.resources: dict[str, Resource] = {}
        self.requests: list[Request] = []
        self.proxy_credentials: tuple | None = None  # (user, password, realm) asked of proxy clients
        # path prefix -> function(path) -> (status, headers): answers made up
        # per request, for redirects that change with the path
        self.dynamic: dict = {}
        self.lock = threading.Lock()
        self.httpd = ThreadingHTTPServer(("127.0.0.1", 0), _Handler)
        self.httpd.daemon_threads = True
        self.httpd.owner = self
        self.scheme = "http"
        if certificate:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(str(certificate[0]), str(certificate[1]))
            self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
            self.scheme = "https"
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, kwargs={"poll_interval": 0.1},
                                       daemon=True)
        self.thread.start()

    def url(self, path: str) -> str:
        return f"{self.scheme}://127.0.0.1:{self.port}{path}"

    def add(self, path: str, resource: Resource) -> str:
        self.resources[path] = resource
        return self.url(path)

    def requests_for(self, path: str) -> list[Request]:
        with self.lock:
            return [r for r in self.requests if r.path == path]

    def requests_under(self, start: str) -> list[Request]:
        with self.lock:
            return [r for r in self.requests if r.path.startswith(start)]

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def self_signed_certificate(folder: Path) -> tuple[Path, Path]:
    """A certificate for 127.0.0.1 that no authority signed, made by openssl."""
    cert, key = folder / "cert.pem", folder / "key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key),
                    "-out", str(cert), "-days", "2", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


# --------------------------------------------------------------------------
# FTP


class _LimitedFile(io.RawIOBase):
    """A file whose data ends early (the server then closes the data
    connection as if the transfer had completed)."""

    def __init__(self, real, limit: int):
        self.real, self.limit = real, limit
        self.name = real.name

    def seek(self, offset, whence=0):
        return self.real.seek(offset, whence)

    def tell(self):
        return self.real.tell()

    def read(self, size=-1):
        left = self.limit - self.real.tell()
        if left <= 0:
            return b""
        return self.real.read(left if size is None or size < 0 else min(size, left))

    def close(self):
        self.real.close()
        super().close()

    @property
    def closed(self):
        return self.real.closed


class FtpServer:
    """pyftpdlib server in a background thread; anonymous and one user with a
    password see the same folder."""

    def __init__(self, root: Path, user: str = "user", password: str = "secret"):
        from pyftpdlib.authorizers import DummyAuthorizer
        from pyftpdlib.filesystems import AbstractedFS
        from pyftpdlib.handlers import FTPHandler
        from pyftpdlib.servers import FTPServer

        owner = self
        self.root = root
        self.commands: list[str] = []
        self.refuse_rest = False
        self.refuse_size = False   # SIZE unknown: a restart point is not checked against it
        self.cuts: dict[str, list[int]] = {}   # file name -> offsets where successive RETRs end
        self.lock = threading.Lock()

        class Filesystem(AbstractedFS):
            def open(self, filename, mode):
                f = super().open(filename, mode)
                with owner.lock:
                    cuts = owner.cuts.get(os.path.basename(filename))
                    limit = cuts.pop(0) if cuts else None
                return _LimitedFile(f, limit) if limit is not None else f

        class Handler(FTPHandler):
            def pre_process_command(self, line, cmd, arg):
                with owner.lock:
                    owner.commands.append(line)
                if (cmd == "REST" and owner.refuse_rest) or (cmd == "SIZE" and owner.refuse_size):
                    self.respond("502 Command not implemented.")
                    return
                super().pre_process_command(line, cmd, arg)

            def log(self, msg, logfun=None):
                pass

            def logline(self, msg, logfun=None):
                pass

            def logerror(self, msg):
                pass

        authorizer = DummyAuthorizer()
        authorizer.add_user(user, password, str(root), perm="elr")
        authorizer.add_anonymous(str(root))
        Handler.authorizer = authorizer
        Handler.abstracted_fs = Filesystem
        Handler.banner = "test server ready"
        Handler.auth_failed_timeout = 0.1
        self.server = FTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.address[1]
        self.thread = threading.Thread(target=self.server.serve_forever,
                                       kwargs={"timeout": 0.1, "handle_exit": False}, daemon=True)
        self.thread.start()

    def url(self, name: str, user: str | None = None, password: str | None = None) -> str:
        auth = f"{user}:{password}@" if user else ""
        return f"ftp://{auth}127.0.0.1:{self.port}/{name}"

    def close(self):
        self.server.close_all()
