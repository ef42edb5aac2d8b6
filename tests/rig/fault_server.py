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

Resumable downloads (every response closes the connection here too):
    /file/<id>/<opts>/<n>     n pattern bytes, served like a static file: ETag, Last-Modified,
                              Accept-Ranges: bytes, Range and If-Range honoured
    /root/<id>/<opts>/<path>  the file <path> below --root, the same way (a whole update server
                              whose files misbehave as <opts> says: a launcher's server base can be
                              http://127.0.0.1:P/root/<id>/<opts>/)
    /stats/<id>               200, JSON {"requests": R, "bytes": B, "offsets": [o1, o2, ...]}: the
                              requests made for <id> so far, the body bytes sent for it, and the
                              first offset each request asked for (0 without Range)

<id> is any token; the state of one id (cuts done, responses counted) is kept for the server's
life, so every test uses ids of its own. One id may serve several files (/root): its cuts, stalls
and versions count over all of them. <opts> is "-" or a comma-separated list of:
    cut=<o1>+<o2>+...   absolute body offsets: a response that reaches offset o_k ends there (the
                        connection is closed after the bytes before o_k); each cut happens once
                        per id. A response reaches o when it starts at or before o and its body
                        goes past o.
    reset               the cuts are resets (RST) instead of closes
    norange             Range is ignored: every answer is 200 with the whole body (and no
                        Accept-Ranges)
    changes=<k>         response i (0-based, counted per id) serves version v = min(i, k): ETag
                        "v<v>" (quoted), a Last-Modified that differs per version, body seed S + v
                        (/file only; a /root file keeps its bytes and only its validators change)
    weak                the ETag is weak (W/"v<v>"); noetag: no ETag; nolastmod: no Last-Modified
    stallhead           the first response of the id sends nothing at all and holds the connection
                        open until the client goes
    stall=<o>           the first response that reaches offset o sends the bytes before it, then
                        holds the connection open and silent until the client goes (once per id)
    rate=<bytes/s>      every response of the id is paced at that rate
Without changes= every response is version 0. Range: only "bytes=N-" is understood (others: 200
whole). With If-Range, the answer is 206 only when it equals the current version's ETag (strong
ETags only) or Last-Modified exactly, of those the response carries; else 200 whole. N >= size:
416 with "Content-Range: bytes */<size>". A 206 has "Content-Range: bytes N-(size-1)/size" and
Content-Length size-N. A /root path that is no file below --root is 404 (still counted).
"""

import argparse
import email.utils
import http.server
import json
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


class Faults:
    """What <opts> asks of the responses of one id."""

    def __init__(self, text):
        self.cuts = []
        self.reset = self.norange = self.weak = self.noetag = self.nolastmod = False
        self.stallhead = False
        self.stall = None
        self.changes = 0
        self.rate = 0
        for item in ([] if text == "-" else text.split(",")):
            name, _, value = item.partition("=")
            if name == "cut":
                self.cuts = sorted(int(o) for o in value.split("+") if o)
            elif name == "changes":
                self.changes = int(value)
            elif name == "stall":
                self.stall = int(value)
            elif name == "rate":
                self.rate = int(value)
                if self.rate <= 0:
                    raise ValueError("rate")
            elif name in ("reset", "norange", "weak", "noetag", "nolastmod", "stallhead") and not value:
                setattr(self, name, True)
            else:
                raise ValueError("unknown option " + item)


class IdState:
    def __init__(self):
        self.requests = 0
        self.bytes = 0
        self.offsets = []
        self.cuts_done = set()
        self.stall_done = False
        self.stallhead_done = False


# One lock for every id: the work under it is a few counters, never I/O.
_ids = {}
_ids_lock = threading.Lock()


def id_state(key):
    state = _ids.get(key)
    if state is None:
        state = _ids[key] = IdState()
    return state


def first_offset(range_header):
    """The offset "bytes=N-..." starts at, 0 when there is none to read."""
    if not range_header or not range_header.startswith("bytes="):
        return 0
    digits = range_header[len("bytes="):].split("-", 1)[0].strip()
    return int(digits) if digits.isdigit() else 0


def open_range(range_header):
    """N of "bytes=N-", the only form served as a range; None for anything else."""
    if not range_header or not range_header.startswith("bytes="):
        return None
    wanted = range_header[len("bytes="):].strip()
    if not wanted.endswith("-") or not wanted[:-1].isdigit():
        return None
    return int(wanted[:-1])


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

    def stats(self, key):
        with _ids_lock:
            state = id_state(key)
            body = json.dumps({"requests": state.requests, "bytes": state.bytes,
                               "offsets": list(state.offsets)}).encode()
        self.head(200, len(body), [("Content-Type", "application/json")])
        self.wfile.write(body)

    def resumable(self, kind, parts, seed):
        key, faults = parts[1], Faults(parts[2])
        asked = self.headers.get("Range")
        with _ids_lock:
            state = id_state(key)
            index = state.requests
            state.requests += 1
            state.offsets.append(first_offset(asked))
            stallhead = faults.stallhead and not state.stallhead_done
            state.stallhead_done = state.stallhead_done or faults.stallhead
        if stallhead:
            self.close_connection = True
            return self.hold_until_client_goes()
        version = min(index, faults.changes)

        if kind == "file":
            size = int(parts[3])
            if size < 0:
                raise ValueError("size")
            read = lambda offset, take: pattern(offset, take, (seed + version) & 0xFF)
            stamp = 1767225600  # a fixed date, so that Last-Modified repeats across servers
            source = None
        else:
            root = os.path.realpath(self.root or "/nonexistent")
            file = os.path.realpath(os.path.join(root, *[urllib.parse.unquote(p) for p in parts[3:]]))
            if not file.startswith(root + os.sep) or not os.path.isfile(file):
                body = b"not found\n"
                self.head(404, len(body))
                self.wfile.write(body)
                return
            source = open(file, "rb")
            info = os.fstat(source.fileno())
            size, stamp = info.st_size, int(info.st_mtime)

            def read(offset, take):
                source.seek(offset)
                return source.read(take)
        try:
            self.send_resumable(faults, state, size, read, stamp + version * 86400, version)
        finally:
            if source:
                source.close()

    def send_resumable(self, faults, state, size, read, stamp, version):
        etag = None if faults.noetag else ('%s"v%d"' % ("W/" if faults.weak else "", version))
        modified = None if faults.nolastmod else email.utils.formatdate(stamp, usegmt=True)
        validators = [("ETag", etag)] if etag else []
        validators += [("Last-Modified", modified)] if modified else []

        start = None if faults.norange else open_range(self.headers.get("Range"))
        condition = self.headers.get("If-Range")
        if start is not None and condition is not None:
            strong = etag is not None and not etag.startswith("W/")
            if not ((strong and condition == etag) or (modified and condition == modified)):
                start = None
        if start is not None and start >= size:
            self.head(416, 0, validators + [("Content-Range", "bytes */%d" % size)])
            return
        ranges = [] if faults.norange else [("Accept-Ranges", "bytes")]
        if start is None:
            start = 0
            self.head(200, size, validators + ranges)
        else:
            self.head(206, size - start, validators + ranges +
                      [("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))])

        # Where this response ends early is decided (and claimed) before the first byte, so that
        # two requests of one id never take the same cut or stall.
        end, ending = size, None
        with _ids_lock:
            cut = next((o for o in faults.cuts if start <= o < size and o not in state.cuts_done), None)
            stall = faults.stall
            if stall is not None and (state.stall_done or not start <= stall < size):
                stall = None
            if stall is not None and (cut is None or stall <= cut):
                state.stall_done = True
                end, ending = stall, "stall"
            elif cut is not None:
                state.cuts_done.add(cut)
                end, ending = cut, "cut"

        began = time.monotonic()
        block = 1 << 16
        if faults.rate:
            block = max(1, min(block, faults.rate // 20))
        offset = start
        while offset < end:
            take = min(block, end - offset)
            data = read(offset, take)
            if not data:
                break  # the file shrank under us: end as a short response
            self.wfile.write(data)
            offset += len(data)
            with _ids_lock:
                state.bytes += len(data)
            if faults.rate:
                due = began + (offset - start) / faults.rate
                pause = due - time.monotonic()
                if pause > 0:
                    time.sleep(pause)
        self.wfile.flush()
        if ending == "stall":
            self.hold_until_client_goes()
        elif ending == "cut" and faults.reset:
            time.sleep(0.05)  # let the client take the bytes before the reset discards them
            self.reset_connection()

    def route(self, parts, query, seed):
        name = parts[0] if parts else ""
        if name == "mirror":
            return self.mirror(parts, seed)
        if name == "stats":
            return self.stats(parts[1])
        if name in ("file", "root"):
            return self.resumable(name, parts, seed)
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
