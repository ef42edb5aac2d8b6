#!/usr/bin/env python3
"""A loopback HTTP server that misbehaves on request, for the download tests.

Usage:
    fault_server.py [--port N] [--lifetime SECONDS] [--ready-file PATH] [--root DIR] [--verbose]

Listens on 127.0.0.1 only (port 0 = any free port). Once it accepts connections it prints
"port=<P> closed_port=<C>" on standard output and, with --ready-file, writes the same line into
that file. <C> is a port this server holds bound but never listens on, so a connection to it is
refused for as long as the server lives: an address that is known not to answer.

It exits by itself after --lifetime seconds (default 300), on SIGTERM and on SIGINT.

Bodies are a deterministic byte pattern so that a client can check what it saved: byte i of a
body with seed S is (i*131 + (i//4096)*17 + S) & 0xFF (the block term catches reordered or
repeated 4096-byte blocks). Every route takes ?seed=S (default 0). Every response closes the
connection.

Routes:
    /status/<code>            that status; 301, 302, 307 and 308 redirect to /status/200, every
                              other code answers with a short page (an error page for 4xx/5xx)
    /data/<n>                 200, n pattern bytes with a correct Content-Length
    /long/<len>/<n>           Content-Length <len> but n (> len) bytes sent
    /short/<len>/<n>          Content-Length <len> but only n (< len) bytes, then a normal close
    /reset/<len>/<n>          as /short, but the connection is reset (RST) instead of closed
    /noclen/<n>               n bytes, no Content-Length: the close ends the body
    /tendigit/<n>             n bytes, Content-Length written with ten digits (zero-padded)
    /badlength?value=<text>   Content-Length: <text> (default "abc") and no body
    /slow/<n>/<parts>/<ms>    n bytes with a correct Content-Length, sent in <parts> pieces with
                              <ms> milliseconds before each
    /stall/<len>/<n>          Content-Length <len>, n (< len) bytes, then nothing more: the
                              connection is held open, silent, until the client goes
    /silent                   nothing at all, not even a status line: the connection is held
                              open until the client goes
    /empty                    200 with Content-Length: 0
    /echo                     the request line and headers as the body (agent, cache headers)
    /agent?is=<text>          200 when the User-Agent is exactly <text>, 403 otherwise
    /mirror/<name>/<n>/<path> the file <path> below --root as a web server serves it, except a file
                              called <name>: n pattern bytes instead, without Content-Length (an
                              update server whose one file never ends, in the midst of sound ones)
"""

import argparse
import http.server
import os
import signal
import socket
import struct
import sys
import threading
import time
import urllib.parse

_blocks = {}
_blocks_lock = threading.Lock()


def pattern_block(k, seed):
    """The 4096-byte block number k of the pattern."""
    key = (k * 17 + seed) & 0xFF
    with _blocks_lock:
        block = _blocks.get(key)
        if block is None:
            block = bytes(((j * 131) + key) & 0xFF for j in range(4096))
            _blocks[key] = block
        return block


def pattern(offset, size, seed):
    """Bytes [offset, offset + size) of the pattern with this seed."""
    out = bytearray()
    pos = offset
    end = offset + size
    while pos < end:
        k, j = divmod(pos, 4096)
        take = min(4096 - j, end - pos)
        out += pattern_block(k, seed)[j:j + take]
        pos += take
    return bytes(out)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OrvantaFaultServer/1.0"
    verbose = False
    root = None

    def log_message(self, fmt, *args):
        if self.verbose:
            sys.stderr.write("fault_server: " + (fmt % args) + "\n")

    # ---- helpers

    def head(self, code, length=None, extra=None, length_text=None):
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream")
        if length_text is not None:
            self.send_header("Content-Length", length_text)
        elif length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in (extra or []):
            self.send_header(name, value)
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def send_pattern(self, size, seed, parts=1, delay=0.0):
        parts = max(1, parts)
        step = (size + parts - 1) // parts if size else 0
        sent = 0
        for _ in range(parts):
            if delay:
                time.sleep(delay)
            take = min(step, size - sent)
            if take > 0:
                self.wfile.write(pattern(sent, take, seed))
                sent += take
        self.wfile.flush()

    def reset_connection(self):
        # Linger 0 turns the close into a reset; the socket is then already gone for the base
        # class, which ignores the failed shutdown.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()

    def finish(self):
        try:
            super().finish()
        except OSError:
            pass

    def hold_until_client_goes(self):
        # Whatever the client still sends is read and dropped; its close (or reset) ends the wait.
        self.connection.settimeout(None)
        try:
            while self.connection.recv(4096):
                pass
        except OSError:
            pass

    # ---- routes

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        seed = int(query.get("seed", ["0"])[0]) & 0xFF
        parts = [p for p in url.path.split("/") if p]
        try:
            self.route(parts, query, seed)
        except (BrokenPipeError, ConnectionResetError):
            pass
        except (ValueError, IndexError):
            self.head(400, 0)

    def mirror(self, parts, seed):
        forged, size, path = parts[1], int(parts[2]), parts[3:]
        if path and path[-1] == forged:
            self.head(200)
            # In blocks, so that a client that gives up early is not sent the rest.
            for offset in range(0, size, 1 << 16):
                self.wfile.write(pattern(offset, min(1 << 16, size - offset), seed))
            return
        root = os.path.realpath(self.root or "/nonexistent")
        file = os.path.realpath(os.path.join(root, *[urllib.parse.unquote(p) for p in path]))
        if not file.startswith(root + os.sep) or not os.path.isfile(file):
            body = b"not found\n"
            self.head(404, len(body))
            self.wfile.write(body)
            return
        with open(file, "rb") as f:
            body = f.read()
        self.head(200, len(body))
        self.wfile.write(body)

    def route(self, parts, query, seed):
        name = parts[0] if parts else ""
        if name == "mirror":
            return self.mirror(parts, seed)
        nums = [int(p) for p in parts[1:]] if name != "status" else []
        if name == "status":
            code = int(parts[1])
            if code in (301, 302, 303, 307, 308):
                location = "http://127.0.0.1:%d/status/200" % self.server.server_address[1]
                body = b"moved\n"
                self.head(code, len(body), [("Location", location)])
                self.wfile.write(body)
            else:
                body = ("<html><body><h1>%d</h1></body></html>\n" % code).encode()
                self.send_response(code)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.close_connection = True
                self.wfile.write(body)
        elif name == "data":
            self.head(200, nums[0])
            self.send_pattern(nums[0], seed)
        elif name == "long":
            self.head(200, nums[0])
            self.send_pattern(nums[1], seed)
        elif name == "short":
            self.head(200, nums[0])
            self.send_pattern(nums[1], seed)
        elif name == "reset":
            self.head(200, nums[0])
            self.send_pattern(nums[1], seed)
            time.sleep(0.05)  # let the client take the bytes before the reset discards them
            self.reset_connection()
        elif name == "noclen":
            self.head(200)
            self.send_pattern(nums[0], seed)
        elif name == "tendigit":
            self.head(200, length_text="%010d" % nums[0])
            self.send_pattern(nums[0], seed)
        elif name == "badlength":
            self.head(200, length_text=query.get("value", ["abc"])[0])
        elif name == "slow":
            self.head(200, nums[0])
            self.send_pattern(nums[0], seed, parts=nums[1], delay=nums[2] / 1000.0)
        elif name == "stall":
            self.head(200, nums[0])
            self.send_pattern(nums[1], seed)
            self.hold_until_client_goes()
        elif name == "silent":
            self.close_connection = True
            self.hold_until_client_goes()
        elif name == "empty":
            self.head(200, 0)
        elif name == "agent":
            wanted = query.get("is", [""])[0]
            code = 200 if self.headers.get("User-Agent", "") == wanted else 403
            body = ("agent %s\n" % self.headers.get("User-Agent", "")).encode("latin-1", "replace")
            self.head(code, len(body))
            self.wfile.write(body)
        elif name == "echo":
            body = (self.requestline + "\r\n" + str(self.headers)).encode("latin-1", "replace")
            self.head(200, len(body), [("Content-Type", "text/plain")])
            self.wfile.write(body)
        else:
            body = b"no such route\n"
            self.head(404, len(body))
            self.wfile.write(body)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--lifetime", type=float, default=300.0)
    parser.add_argument("--ready-file")
    parser.add_argument("--root", help="the folder /mirror/ serves")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    Handler.verbose = args.verbose
    Handler.root = args.root
    server = Server(("127.0.0.1", args.port), Handler)
    closed = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    closed.bind(("127.0.0.1", 0))

    stopping = threading.Event()

    def stop(*_):
        if not stopping.is_set():
            stopping.set()
            threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    timer = threading.Timer(args.lifetime, stop)
    timer.daemon = True
    timer.start()

    line = "port=%d closed_port=%d" % (server.server_address[1], closed.getsockname()[1])
    if args.ready_file:
        with open(args.ready_file + ".tmp", "w") as f:
            f.write(line + "\n")
        os.replace(args.ready_file + ".tmp", args.ready_file)
    print(line, flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        timer.cancel()
        server.server_close()
        closed.close()


if __name__ == "__main__":
    main()
