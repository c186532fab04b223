#!/usr/bin/env python3
"""A loopback HTTP server that keeps its client waiting on purpose, for the end-to-end runs under Wine.

Usage: stall-server.py PORT LOG
  /list.json        a file list naming one file, /game/big.bin
  /list-stall.json  the headers and a few bytes of a list, then nothing
  /loop.json        a redirection to itself
  /game/big.bin     the headers and 1000 bytes of a 1,000,000-byte file, then nothing
Every request line is appended to LOG. The server ends when it is killed.
"""
import http.server
import sys
import time

PORT = int(sys.argv[1])
LOG = sys.argv[2]
STALL_SECONDS = 600
BIG_SIZE = 1000000
LIST = (
    '{"Version": "2017.12.27.1", "URL": "http://127.0.0.1:%d/game/", "TotalCount": 1, "TotalSize": %d, '
    '"FileList": [{"Name": "big.bin", "Size": %d, "CheckSum": "0123456789ABCDEF0123456789ABCDEF"}]}'
    % (PORT, BIG_SIZE, BIG_SIZE)
).encode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with open(LOG, "a") as log:
            log.write(self.requestline + "\n")
        if self.path == "/list.json":
            self.answer(200, LIST, len(LIST))
        elif self.path == "/list-stall.json":
            self.answer(200, b'{"Vers', 100, stall=True)
        elif self.path == "/loop.json":
            self.send_response(302)
            self.send_header("Location", "/loop.json")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif self.path == "/game/big.bin":
            self.answer(200, b"x" * 1000, BIG_SIZE, stall=True)
        else:
            self.answer(404, b"", 0)

    def answer(self, status, body, length, stall=False):
        self.send_response(status)
        self.send_header("Content-Length", str(length))
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()
        if stall:
            time.sleep(STALL_SECONDS)
            self.close_connection = True


http.server.ThreadingHTTPServer.daemon_threads = True
http.server.ThreadingHTTPServer(("127.0.0.1", PORT), Handler).serve_forever()
