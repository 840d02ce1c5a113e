#!/usr/bin/env python3
"""A small HTTP server for the download tests, on the standard library alone.

  test_server.py start STATE_DIR ROOT   serves ROOT on a free port of 127.0.0.1 in the
                                        background; STATE_DIR/port and STATE_DIR/pid tell
                                        where and who, STATE_DIR/requests.log lists every
                                        request
  test_server.py stop STATE_DIR         ends the server whose PID STATE_DIR/pid holds

Files are served with ETag, HEAD, Range ("bytes=N-" and "bytes=N-M") and If-Range. The
first folder of the path can ask for a fault, and the rest names the file:
  /slow/F      small chunks with pauses
  /drop/F      half the body, then the connection is closed
  /stall/F     half the body, then nothing for a minute
  /norange/F   Range is ignored (always the whole file)
  /rangelie/F  a 206 that starts 100 bytes after the asked offset
  /etag/F      a new ETag for every request (the file "changes" between tries)
  /redirect/F  302 to /F
  /loop/F      302 to itself, without end
  /status/N    an empty answer with status N
"""
import http.server
import os
import signal
import socketserver
import subprocess
import sys
import threading
import time
import urllib.parse

LOG_LOCK = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "KemTestServer/1"
    etag_counter = 0

    def log_message(self, fmt, *args):  # the request log says enough
        pass

    def record(self, status, sent, note=""):
        line = "%s %s range=%s if-range=%s status=%d bytes=%d%s\n" % (
            self.command, self.path, self.headers.get("Range", "-"), self.headers.get("If-Range", "-"),
            status, sent, (" " + note) if note else "")
        with LOG_LOCK:
            with open(self.server.log_path, "a", encoding="utf-8") as f:
                f.write(line)

    def do_HEAD(self):
        self.answer(False)

    def do_GET(self):
        self.answer(True)

    def empty(self, status, location=None):
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()
        self.record(status, 0)

    def answer(self, with_body):
        path = urllib.parse.urlparse(self.path).path
        parts = [p for p in path.split("/") if p]
        fault = parts[0] if parts and parts[0] in (
            "slow", "drop", "stall", "norange", "rangelie", "etag", "redirect", "loop", "status") else ""
        rest = parts[1:] if fault else parts
        if fault == "status":
            return self.empty(int(rest[0]) if rest and rest[0].isdigit() else 500)
        if fault == "redirect":
            return self.empty(302, "/" + "/".join(rest))
        if fault == "loop":
            return self.empty(302, path)
        file_path = os.path.join(self.server.root, *rest)
        if not rest or ".." in rest or not os.path.isfile(file_path):
            return self.empty(404)
        with open(file_path, "rb") as f:
            data = f.read()
        stat = os.stat(file_path)
        etag = '"%x-%x"' % (stat.st_size, int(stat.st_mtime))
        if fault == "etag":
            Handler.etag_counter += 1
            etag = '"changing-%d"' % Handler.etag_counter
        start, end = 0, len(data) - 1
        partial = False
        wanted = self.headers.get("Range")
        if wanted and fault != "norange" and wanted.startswith("bytes="):
            if_range = self.headers.get("If-Range")
            if if_range is None or if_range == etag:
                first, _, last = wanted[6:].partition("-")
                if first.isdigit() and int(first) < len(data):
                    start = int(first)
                    if last.isdigit():
                        end = min(int(last), len(data) - 1)
                    partial = True
        if partial and fault == "rangelie":
            start = min(start + 100, end)
        body = data[start:end + 1]
        self.send_response(206 if partial else 200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("ETag", etag)
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(len(body)))
        if partial:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, len(data)))
        self.end_headers()
        status = 206 if partial else 200
        if not with_body:
            self.record(status, 0)
            return
        sent = 0
        try:
            if fault in ("drop", "stall"):
                half = len(body) // 2
                self.wfile.write(body[:half])
                self.wfile.flush()
                sent = half
                if fault == "stall":
                    time.sleep(60)
                self.record(status, sent, fault)
                self.close_connection = True
                self.connection.shutdown(2)
                return
            chunk = 4096 if fault == "slow" else 65536
            for i in range(0, len(body), chunk):
                self.wfile.write(body[i:i + chunk])
                sent += len(body[i:i + chunk])
                if fault == "slow":
                    self.wfile.flush()
                    time.sleep(0.05)
        except OSError:
            self.record(status, sent, "client left")
            return
        self.record(status, sent)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(state, root):
    server = Server(("127.0.0.1", 0), Handler)
    server.root = os.path.abspath(root)
    server.log_path = os.path.join(state, "requests.log")
    open(server.log_path, "w").close()
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    with open(os.path.join(state, "port.tmp"), "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(os.path.join(state, "port.tmp"), os.path.join(state, "port"))
    server.serve_forever()


def start(state, root):
    os.makedirs(state, exist_ok=True)
    for name in ("port", "pid"):
        try:
            os.remove(os.path.join(state, name))
        except FileNotFoundError:
            pass
    child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", state, root],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=open(os.path.join(state, "server.err"), "w"), start_new_session=True)
    with open(os.path.join(state, "pid"), "w") as f:
        f.write(str(child.pid))
    for _ in range(100):
        if os.path.exists(os.path.join(state, "port")):
            print("serving %s on port %s (pid %d)" % (root, open(os.path.join(state, "port")).read(), child.pid))
            return 0
        if child.poll() is not None:
            break
        time.sleep(0.1)
    print("the test server did not start", file=sys.stderr)
    return 1


def stop(state):
    try:
        pid = int(open(os.path.join(state, "pid")).read())
    except (FileNotFoundError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(50):
            os.kill(pid, 0)
            time.sleep(0.1)
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    os.remove(os.path.join(state, "pid"))
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "start":
        sys.exit(start(sys.argv[2], sys.argv[3]))
    if len(sys.argv) == 4 and sys.argv[1] == "serve":
        serve(sys.argv[2], sys.argv[3])
        sys.exit(0)
    if len(sys.argv) == 3 and sys.argv[1] == "stop":
        sys.exit(stop(sys.argv[2]))
    print(__doc__, file=sys.stderr)
    sys.exit(2)
