#!/usr/bin/python3
"""Loopback HTTP server for the tests and the demo.

Answers GET requests with canned replies from a routes file (JSON) that is read
again for every request, so callers change replies without a restart:

    {"/path": {"status": 200, "body_b64": "...", "content_type": "...",
               "delay": 0.0, "drip": 0.0, "location": "/elsewhere"}}

"drip" sends the body one byte at a time, that many seconds apart: a reply
that keeps moving but never ends in time.

A key may also be a path with its query ("/a?x=1"); that key wins over the
bare path. Unrouted paths are served from --root when a file is there, else
404. Prints "PORT <n>" once it listens (port 0 picks a free one) and one
"REQUEST <method> <target>" line per request, the target exactly as sent.

Run it with /usr/bin/python3 (standard library only).
"""
import argparse
import base64
import http.server
import json
import os
import sys
import threading
import time
import urllib.parse


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    routes_path = None
    root = None

    def log_message(self, fmt, *args):  # requests are reported by say()
        pass

    def load_routes(self):
        try:
            with open(self.routes_path, "rb") as f:
                return json.loads(f.read().decode("utf-8") or "{}")
        except FileNotFoundError:
            return {}

    def reply(self, status, body, content_type="application/octet-stream", location=None, drip=0.0):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        if location:
            self.send_header("Location", location)
        self.end_headers()
        if self.command == "HEAD":
            return
        if not drip:
            self.wfile.write(body)
            return
        try:
            for i in range(len(body)):
                self.wfile.write(body[i:i + 1])
                self.wfile.flush()
                time.sleep(drip)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def do_GET(self):
        say("REQUEST %s %s" % (self.command, self.path))
        routes = self.load_routes()
        path = urllib.parse.urlsplit(self.path).path
        route = routes.get(self.path) or routes.get(path)
        if route is not None:
            if route.get("delay"):
                time.sleep(float(route["delay"]))
            body = base64.b64decode(route.get("body_b64", ""))
            self.reply(int(route.get("status", 200)), body,
                       route.get("content_type", "application/json; charset=utf-8"),
                       route.get("location"), float(route.get("drip", 0)))
            return
        if self.root:
            local = os.path.realpath(os.path.join(self.root, urllib.parse.unquote(path).lstrip("/")))
            if local.startswith(os.path.realpath(self.root) + os.sep) and os.path.isfile(local):
                with open(local, "rb") as f:
                    self.reply(200, f.read())
                return
        self.reply(404, b"not found", "text/plain")

    do_HEAD = do_GET

    def do_POST(self):
        say("REQUEST %s %s" % (self.command, self.path))
        self.reply(405, b"method not allowed", "text/plain")


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--routes", required=True, help="JSON file of canned replies")
    p.add_argument("--root", help="folder served for unrouted paths")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0, help="0 picks a free port")
    p.add_argument("--tls-cert", help="certificate and key (PEM, one file): https instead of http")
    p.add_argument("--exit-with-parent", action="store_true",
                   help="stop when the starting process goes away, even if it crashed")
    args = p.parse_args()

    Handler.routes_path = args.routes
    Handler.root = args.root
    server = http.server.ThreadingHTTPServer((args.host, args.port), Handler)
    server.daemon_threads = True
    if args.tls_cert:
        import ssl
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    say("PORT %d" % server.server_address[1])

    if args.exit_with_parent:
        parent = os.getppid()

        def watch():
            while os.getppid() == parent:
                time.sleep(0.5)
            os._exit(0)

        threading.Thread(target=watch, daemon=True).start()

    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
