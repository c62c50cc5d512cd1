"""A threaded HTTP/1.0 file server for the benchmarks, on 127.0.0.1: like
`python3 -m http.server`, and it answers "Range: bytes=N-" with 206 (or 416
beyond the end), as download servers do, so that a dropped transfer can
resume. Prints its port on the first line of its output.

    httpserver.py <folder> [port]
"""

import functools
import http.server
import os
import re
import shutil
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):  # noqa: N802
        match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        path = self.translate_path(self.path)
        if not match or not os.path.isfile(path):
            return super().do_GET()
        start, size = int(match.group(1)), os.path.getsize(path)
        if start >= size:
            self.send_response(416)
            self.send_header("Content-Range", f"bytes */{size}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        with open(path, "rb") as f:
            f.seek(start)
            self.send_response(206)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
            self.send_header("Content-Length", str(size - start))
            self.end_headers()
            shutil.copyfileobj(f, self.wfile)


def main():
    handler = functools.partial(Handler, directory=sys.argv[1])
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
