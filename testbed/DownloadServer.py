#!/usr/bin/env python3
"""Stand-in for the vendor's download server, on 127.0.0.1.

    DownloadServer.py FOLDER MODE PATH=FILE...   serve FILE at PATH

Every path answers in MODE: ok (the file), 404, wrong (the file with its last
byte changed), slow (the file in small pieces over about half a minute).
FOLDER gets "sha256" (each "PATH HEX" of the file served there), then "port"
once the server listens, and "requests" (each path asked for, one a line).
The server ends when "port" is deleted, or after ten minutes.
"""
import hashlib
import os
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

folder, mode, files = sys.argv[1], sys.argv[2], dict(arg.split("=", 1) for arg in sys.argv[3:])


def publish(name, text):
    """Whole or not at all: the test reads the file as soon as it is there."""
    with open(os.path.join(folder, name + ".part"), "w") as f:
        f.write(text)
    os.replace(os.path.join(folder, name + ".part"), os.path.join(folder, name))


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        with open(os.path.join(folder, "requests"), "a") as f:
            f.write(self.path + "\n")
        status, body = 404, b"<html><body>404 Not Found</body></html>"
        if self.path in files and mode != "404":
            with open(files[self.path], "rb") as f:
                status, body = 200, f.read()
            body = body[:-1] + bytes([body[-1] ^ 0xFF]) if mode == "wrong" else body
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        step = 2048 if mode == "slow" else len(body)
        for at in range(0, len(body), step):
            try:
                self.wfile.write(body[at:at + step])
                self.wfile.flush()
            except OSError:
                return
            if mode == "slow":
                time.sleep(0.2)


def main():
    # Let go of the output the test's runner reads: it waits for every holder.
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    publish("sha256", "".join(f"{p} {hashlib.sha256(open(f, 'rb').read()).hexdigest()}\n" for p, f in files.items()))
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    publish("port", str(server.server_address[1]))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    end = time.monotonic() + 600
    while os.path.exists(os.path.join(folder, "port")) and time.monotonic() < end:
        time.sleep(0.2)
    server.shutdown()


if __name__ == "__main__":
    main()
