#!/usr/bin/env python3
"""Stand-in for the vendor's download server, on 127.0.0.1.

    DownloadServer.py PORT PATH=FILE...   serve FILE at PATH

Each path answers in its mode, set with GET /_mode?path=PATH&mode=MODE:
ok (the file), 404, 500 (an error page), wrong (the file with its last byte
changed), slow (the file in small pieces over about half a minute).
GET /_sha256?path=PATH answers the SHA-256 of the file served at PATH in hex.
GET /_requests lists the paths asked for, one a line; GET /_quit ends the
server, which also ends by itself after ten minutes.
"""
import hashlib
import os
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

files, modes, requests = {}, {}, []


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, code, body, slow=False):
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream" if code == 200 else "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        step = 2048 if slow else len(body) or 1
        for at in range(0, len(body), step):
            try:
                self.wfile.write(body[at:at + step])
                self.wfile.flush()
            except OSError:
                return
            if slow:
                time.sleep(0.2)

    def do_GET(self):
        url = urlparse(self.path)
        query = {k: v[0] for k, v in parse_qs(url.query).items()}
        if url.path == "/_mode":
            modes[query["path"]] = query["mode"]
            return self.answer(200, b"ok")
        if url.path == "/_sha256":
            with open(files[query["path"]], "rb") as f:
                return self.answer(200, hashlib.sha256(f.read()).hexdigest().encode())
        if url.path == "/_requests":
            return self.answer(200, "".join(p + "\n" for p in requests).encode())
        if url.path == "/_quit":
            self.answer(200, b"bye")
            return threading.Thread(target=self.server.shutdown).start()
        requests.append(url.path)
        mode = modes.get(url.path, "ok")
        if url.path not in files or mode == "404":
            return self.answer(404, b"<html><body>404 Not Found</body></html>")
        if mode == "500":
            return self.answer(500, b"<html><body>500 Internal Server Error</body></html>")
        with open(files[url.path], "rb") as f:
            body = f.read()
        if mode == "wrong":
            body = body[:-1] + bytes([body[-1] ^ 0xFF])
        self.answer(200, body, slow=mode == "slow")


def main():
    # Let go of the output the test's runner reads: it waits for every holder.
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    port = int(sys.argv[1])
    for arg in sys.argv[2:]:
        path, file = arg.split("=", 1)
        files[path] = file
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    timer = threading.Timer(600, server.shutdown)
    timer.daemon = True
    timer.start()
    server.serve_forever()


if __name__ == "__main__":
    main()
