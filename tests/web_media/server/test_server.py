#!/usr/bin/env python3
"""A small HTTP server for the download tests, on the standard library alone.

  test_server.py start STATE_DIR ROOT [ROOT...]
                                        serves the ROOT folders (a file from the first that
                                        has it) on a free port of 127.0.0.1 in the
                                        background; STATE_DIR/port and STATE_DIR/pid tell
                                        where and who, STATE_DIR/requests.log lists every
                                        request
  test_server.py stop STATE_DIR         ends the server whose PID STATE_DIR/pid holds

Beside the plain server, the same files are served over HTTPS and the server process runs
three proxies; each writes its port into STATE_DIR:
  https_port     HTTPS with a certificate from a test CA made at start with the openssl
                 command line (STATE_DIR/tls/ca.der is that CA, for the test to trust)
  rogue_port     HTTPS with a certificate from a second CA that nobody trusts
  proxy_port     a proxy without authentication: plain HTTP requests and CONNECT
  authproxy_port the same, but only with Basic credentials "kemuser" / "kempass"
  ntlmproxy_port refuses every request with a 407 that offers NTLM only
The keys live in STATE_DIR/tls for the run only. A proxy sends every host name to
127.0.0.1, so a name that resolves nowhere reaches the test server only through a proxy.
Proxy requests are logged as "PROXY <name> <method> <target> auth=<ok|none|bad> status=N".

Files are served with ETag, HEAD, Range ("bytes=N-" and "bytes=N-M") and If-Range. The
first folder of the path can ask for a fault, and the rest names the file:
  /slow/F      small chunks with pauses
  /crawl/F     1 KB every 50 ms (about 20 KB a second), for a download to cancel part way
  /drop/F      half the body, then the connection is closed
  /stall/F     half the body, then nothing for a minute
  /norange/F   Range is ignored (always the whole file)
  /rangelie/F  a 206 that starts 100 bytes after the asked offset
  /etag/F      a new ETag for every request (the file "changes" between tries)
  /redirect/F  302 to /F
  /loop/F      302 to itself, without end
  /status/N    an empty answer with status N
"""
import base64
import http.server
import os
import select
import shutil
import socket
import ssl
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
        if getattr(self.server, "secure", False):
            line = line[:-1] + " tls\n"
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
            "slow", "crawl", "drop", "stall", "norange", "rangelie", "etag", "redirect", "loop", "status") else ""
        rest = parts[1:] if fault else parts
        if fault == "status":
            return self.empty(int(rest[0]) if rest and rest[0].isdigit() else 500)
        if fault == "redirect":
            return self.empty(302, "/" + "/".join(rest))
        if fault == "loop":
            return self.empty(302, path)
        found = [os.path.join(root, *rest) for root in self.server.roots if rest and ".." not in rest]
        found = [f for f in found if os.path.isfile(f)]
        if not found:
            return self.empty(404)
        file_path = found[0]
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
            chunk = {"slow": 4096, "crawl": 1024}.get(fault, 65536)
            for i in range(0, len(body), chunk):
                self.wfile.write(body[i:i + chunk])
                sent += len(body[i:i + chunk])
                if fault in ("slow", "crawl"):
                    self.wfile.flush()
                    time.sleep(0.05)
        except OSError:
            self.record(status, sent, "client left")
            return
        self.record(status, sent)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


PROXY_USER, PROXY_PASSWORD = "kemuser", "kempass"


def log_line(path, line):
    with LOG_LOCK:
        with open(path, "a", encoding="utf-8") as f:
            f.write(line + "\n")


def make_certificates(folder):
    """A trusted and an untrusted CA, each with a server certificate for 127.0.0.1."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)

    def run(*args):
        subprocess.run(["openssl"] + list(args), cwd=folder, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n"
                "subjectAltName=DNS:127.0.0.1,DNS:localhost,IP:127.0.0.1\n"
                "authorityKeyIdentifier=keyid\n")
    run_id = os.urandom(4).hex()  # a new authority per start: never confused with an older one
    for ca in ("ca", "rogue"):
        run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
            "-keyout", ca + ".key", "-out", ca + ".pem", "-subj", "/CN=Kem %s test authority %s" % (ca, run_id),
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        run("x509", "-in", ca + ".pem", "-outform", "der", "-out", ca + ".der")
        run("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", ca + "-server.key",
            "-out", ca + "-server.csr", "-subj", "/CN=127.0.0.1")
        run("x509", "-req", "-sha256", "-days", "30", "-in", ca + "-server.csr", "-CA", ca + ".pem",
            "-CAkey", ca + ".key", "-set_serial", "0x%x" % int.from_bytes(os.urandom(8), "big"),
            "-extfile", "server.ext", "-out", ca + "-server.pem")


def relay(a, b):
    """Copies both ways until one side closes."""
    sockets = [a, b]
    try:
        while True:
            ready, _, _ = select.select(sockets, [], [], 120)
            if not ready:
                return
            for s in ready:
                data = s.recv(65536)
                if not data:
                    return
                (b if s is a else a).sendall(data)
    except OSError:
        return


class ProxyHandler(socketserver.StreamRequestHandler):
    """An HTTP/1.0 proxy: absolute-URL requests are passed on, CONNECT opens a tunnel."""

    def handle(self):
        server = self.server
        line = self.rfile.readline(65536).decode("latin-1")
        parts = line.split()
        if len(parts) != 3:
            return
        method, target, _ = parts
        headers = []
        while True:
            h = self.rfile.readline(65536).decode("latin-1")
            if h in ("\r\n", "\n", ""):
                break
            headers.append(h.rstrip("\r\n"))
        credentials = [h.split(":", 1)[1].strip() for h in headers
                       if h.lower().startswith("proxy-authorization:")]
        auth = "none"
        if credentials:
            expected = "Basic " + base64.b64encode(("%s:%s" % (PROXY_USER, PROXY_PASSWORD)).encode()).decode()
            auth = "ok" if credentials[0] == expected else "bad"

        def refuse(status, text, offer=None):
            answer = "HTTP/1.0 %d %s\r\n" % (status, text)
            if offer:
                answer += "Proxy-Authenticate: %s\r\n" % offer
            answer += "Content-Length: 0\r\nConnection: close\r\n\r\n"
            self.wfile.write(answer.encode("latin-1"))
            log_line(server.log_path, "PROXY %s %s %s auth=%s status=%d" % (server.name, method, target, auth, status))

        if server.name == "ntlmproxy":
            return refuse(407, "Proxy Authentication Required", "NTLM")
        if server.name == "authproxy" and auth != "ok":
            return refuse(407, "Proxy Authentication Required", 'Basic realm="kem test proxy"')
        if method == "CONNECT":
            port = target.rpartition(":")[2]
            if not port.isdigit():
                return refuse(400, "Bad Request")
            try:
                upstream = socket.create_connection(("127.0.0.1", int(port)), timeout=10)
            except OSError:
                return refuse(502, "Bad Gateway")
            self.wfile.write(b"HTTP/1.0 200 Connection established\r\n\r\n")
            self.wfile.flush()
            log_line(server.log_path, "PROXY %s CONNECT %s auth=%s status=200" % (server.name, target, auth))
            with upstream:
                upstream.settimeout(None)
                relay(self.connection, upstream)
            return
        url = urllib.parse.urlsplit(target)
        if url.scheme != "http" or not url.port:
            return refuse(400, "Bad Request")
        try:
            upstream = socket.create_connection(("127.0.0.1", url.port), timeout=10)
        except OSError:
            return refuse(502, "Bad Gateway")
        path = url.path or "/"
        if url.query:
            path += "?" + url.query
        kept = [h for h in headers if not h.lower().startswith(("proxy-", "connection:", "keep-alive:"))]
        request = "%s %s HTTP/1.0\r\n%s\r\nConnection: close\r\n\r\n" % (method, path, "".join(h + "\r\n" for h in kept))
        log_line(server.log_path, "PROXY %s %s %s auth=%s status=passed" % (server.name, method, target, auth))
        with upstream:
            upstream.settimeout(None)
            upstream.sendall(request.encode("latin-1"))
            relay(self.connection, upstream)


class ProxyServer(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


def write_port(state, name, port):
    with open(os.path.join(state, name + ".tmp"), "w") as f:
        f.write(str(port))
    os.replace(os.path.join(state, name + ".tmp"), os.path.join(state, name))


def serve(state, roots):
    log_path = os.path.join(state, "requests.log")
    open(log_path, "w").close()
    servers = []

    def add(server, name):
        server.roots = [os.path.abspath(r) for r in roots]
        server.log_path = log_path
        servers.append((server, name))
        return server

    add(Server(("127.0.0.1", 0), Handler), "port")
    tls = os.path.join(state, "tls")
    if shutil.which("openssl"):
        make_certificates(tls)
        for ca, name in (("ca", "https_port"), ("rogue", "rogue_port")):
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(os.path.join(tls, ca + "-server.pem"), os.path.join(tls, ca + "-server.key"))
            server = add(Server(("127.0.0.1", 0), Handler), name)
            server.socket = context.wrap_socket(server.socket, server_side=True)
            server.secure = True
    for name in ("proxy", "authproxy", "ntlmproxy"):
        server = add(ProxyServer(("127.0.0.1", 0), ProxyHandler), name + "_port")
        server.name = name

    def stop_all(*_):
        for server, _ in servers:
            threading.Thread(target=server.shutdown).start()

    signal.signal(signal.SIGTERM, stop_all)
    threads = [threading.Thread(target=server.serve_forever) for server, _ in servers[1:]]
    for t in threads:
        t.start()
    for server, name in servers[1:]:
        write_port(state, name, server.server_address[1])
    write_port(state, "port", servers[0][0].server_address[1])  # last: the server is ready
    servers[0][0].serve_forever()
    for t in threads:
        t.join()


def start(state, roots):
    os.makedirs(state, exist_ok=True)
    stop(state)  # a server an earlier start left running (its stop never ran) goes first
    for name in ("port", "pid", "https_port", "rogue_port", "proxy_port", "authproxy_port", "ntlmproxy_port"):
        try:
            os.remove(os.path.join(state, name))
        except FileNotFoundError:
            pass
    child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", state] + roots,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=open(os.path.join(state, "server.err"), "w"), start_new_session=True)
    with open(os.path.join(state, "pid"), "w") as f:
        f.write(str(child.pid))
    for _ in range(300):  # making the keys takes a few seconds on a slow machine
        if os.path.exists(os.path.join(state, "port")):
            print("serving %s on port %s (pid %d)" % (", ".join(roots), open(os.path.join(state, "port")).read(),
                                                     child.pid))
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
    if len(sys.argv) >= 4 and sys.argv[1] == "start":
        sys.exit(start(sys.argv[2], sys.argv[3:]))
    if len(sys.argv) >= 4 and sys.argv[1] == "serve":
        serve(sys.argv[2], sys.argv[3:])
        sys.exit(0)
    if len(sys.argv) == 3 and sys.argv[1] == "stop":
        sys.exit(stop(sys.argv[2]))
    print(__doc__, file=sys.stderr)
    sys.exit(2)
