#!/usr/bin/env python3
"""Loopback HTTP and HTTPS server for the HTTP client and report tests.

    loopback_server.py start <dir>   starts the server in the background and
                                     returns once <dir>/ports holds
                                     "<http port> <https port>"
    loopback_server.py stop <dir>    stops it

Listens on 127.0.0.1 only, on ports the system picks. The HTTPS side uses a
self-signed certificate for a name that is not 127.0.0.1, made at start.

Paths (any method):
    /echo, /Soft/Sys/uninstall   200; the body is the request exactly as it
                                 arrived (request line, headers, body)
    /redirect/301, /redirect/302 that status with "Location: /echo"
    /missing                     404 with a short body
    /slow?seconds=N              200 with N body bytes, one per second
    /silent                      reads the request and never answers
"""
import os
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time

IDLE_LIMIT = 1800  # seconds; a forgotten server ends by itself


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        rest += chunk
    return head + b"\r\n\r\n" + rest, head.split(b"\r\n")[0]


def respond(conn, status, reason, body=b"", extra=b""):
    conn.sendall(b"HTTP/1.1 %d %s\r\nContent-Length: %d\r\nConnection: close\r\n%s\r\n"
                 % (status, reason, len(body), extra) + body)


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        self.server.touch()
        conn = self.request
        got = read_request(conn)
        if got is None:
            return
        raw, request_line = got
        parts = request_line.split(b" ")
        target = parts[1] if len(parts) > 1 else b"/"
        path, _, query = target.partition(b"?")
        if path in (b"/echo", b"/Soft/Sys/uninstall"):
            respond(conn, 200, b"OK", raw, b"Content-Type: application/octet-stream\r\n")
        elif path.startswith(b"/redirect/"):
            code = int(path.rsplit(b"/", 1)[1])
            respond(conn, code, b"Moved", b"", b"Location: /echo\r\n")
        elif path == b"/missing":
            respond(conn, 404, b"Not Found", b"not here")
        elif path == b"/slow":
            seconds = int(query.partition(b"=")[2] or b"30")
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % seconds)
            for _ in range(seconds):
                time.sleep(1)
                conn.sendall(b"x")
        elif path == b"/silent":
            conn.settimeout(60)
            try:
                conn.recv(1)
            except OSError:
                pass
        else:
            respond(conn, 400, b"Bad Request", b"unknown path")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, context=None):
        self.context = context
        self.last = time.time()
        super().__init__(("127.0.0.1", 0), Handler)

    def touch(self):
        self.last = time.time()

    def get_request(self):
        conn, addr = self.socket.accept()
        if self.context:
            conn.settimeout(10)
            conn = self.context.wrap_socket(conn, server_side=True)
            conn.settimeout(None)
        return conn, addr

    def handle_error(self, request, client_address):
        pass  # clients that hang up early are part of the tests


def serve(folder):
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=mismatch.invalid"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)

    plain = Server()
    secure = Server(context)
    for srv in (plain, secure):
        threading.Thread(target=srv.serve_forever, daemon=True).start()
    tmp = os.path.join(folder, "ports.tmp")
    with open(tmp, "w") as f:
        f.write("%d %d\n" % (plain.server_address[1], secure.server_address[1]))
    os.replace(tmp, os.path.join(folder, "ports"))
    while time.time() - max(plain.last, secure.last) < IDLE_LIMIT:
        time.sleep(5)


def start(folder):
    os.makedirs(folder, exist_ok=True)
    stop(folder)
    ports = os.path.join(folder, "ports")
    if os.path.exists(ports):
        os.remove(ports)
    with open(os.path.join(folder, "server.log"), "wb") as log:
        proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", folder],
                                stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                start_new_session=True)
    with open(os.path.join(folder, "server.pid"), "w") as f:
        f.write(str(proc.pid))
    for _ in range(300):
        if os.path.exists(ports):
            print("loopback server on", open(ports).read().strip())
            return 0
        if proc.poll() is not None:
            break
        time.sleep(0.1)
    sys.stderr.write("loopback server did not start\n")
    return 1


def stop(folder):
    pidfile = os.path.join(folder, "server.pid")
    if os.path.exists(pidfile):
        try:
            os.kill(int(open(pidfile).read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        os.remove(pidfile)
    return 0


if __name__ == "__main__":
    cmd, folder = sys.argv[1], os.path.abspath(sys.argv[2])
    sys.exit({"start": start, "stop": stop, "serve": lambda d: serve(d) or 0}[cmd](folder))
