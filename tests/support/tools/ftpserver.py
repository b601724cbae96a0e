#!/usr/bin/python3
"""Loopback FTP server for the tests, the benchmarks and the demo.

Serves one account over a root folder with passive data ports on the listen
address. Prints "PORT <n>" once it listens (port 0 picks a free one) and one
"EVENT <name> ..." line per control connection event, so callers can count
connections. Runs in the foreground unless --background is given; then the
parent prints the port, writes the pid file and returns once the server
listens.

Needs Debian's python3-pyftpdlib; run it with /usr/bin/python3.
"""
import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

DOWNLOAD_FOLDERS = ("public_html/download", "public_html/download/versions")


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


class EventHandler(FTPHandler):
    # pyftpdlib speaks UTF-8 on the control connection; the Windows client
    # sent names in its ANSI code page, so commands and replies use that.
    wire_encoding = "utf8"

    def decode(self, data):
        return data.decode(self.wire_encoding, self.unicode_errors)

    def push(self, s):
        super(FTPHandler, self).push(s.encode(self.wire_encoding, "replace"))

    def on_connect(self):
        say("EVENT connect %s:%s" % (self.remote_ip, self.remote_port))

    def on_disconnect(self):
        say("EVENT disconnect %s:%s" % (self.remote_ip, self.remote_port))

    def on_login(self, username):
        say("EVENT login %s" % username)

    def on_login_failed(self, username, password):
        # Never echo the password the client tried.
        say("EVENT login-failed %s" % username)

    def on_file_received(self, file):
        say("EVENT received %s" % file)

    def on_incomplete_file_received(self, file):
        # Partial uploads stay where they are; the client decides.
        say("EVENT incomplete %s" % file)


class WireFS(AbstractedFS):
    # Listings go out in the wire's code page too (pyftpdlib writes UTF-8).
    def _recode(self, lines):
        enc = self.cmd_channel.wire_encoding
        for line in lines:
            yield line.decode("utf8", "replace").encode(enc, "replace")

    def format_list(self, *args, **kwargs):
        return self._recode(super().format_list(*args, **kwargs))

    def format_mlsx(self, *args, **kwargs):
        return self._recode(super().format_mlsx(*args, **kwargs))


class WriteThroughFS(WireFS):
    # Received bytes reach the disk at once, so a test sees an upload grow.
    def open(self, filename, mode):
        if "b" in mode and any(c in mode for c in "wa+"):
            return open(filename, mode, buffering=0)
        return super().open(filename, mode)


class BulkDTPHandler(DTPHandler):
    # Larger reads cut the interpreter's work per uploaded byte.
    ac_in_buffer_size = 256 * 1024


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--root", required=True, help="folder served as /")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0, help="0 picks a free port")
    p.add_argument("--user", default="tvc1")
    p.add_argument("--password", default=os.environ.get("RH_FTP_PASSWORD"),
                   help="the account's password (default: $RH_FTP_PASSWORD)")
    p.add_argument("--layout", action="store_true",
                   help="create /public_html/download/versions/ under the root")
    p.add_argument("--throttle", type=int, default=0,
                   help="limit uploads to this many bytes per second (0: none)")
    p.add_argument("--write-through", action="store_true",
                   help="write uploaded bytes to disk as they arrive (unbuffered)")
    p.add_argument("--refuse", default="",
                   help="comma-separated commands to answer with 500, as servers"
                        " without them do (e.g. SIZE,MLST)")
    p.add_argument("--encoding", default="cp949",
                   help="code page of file names on the wire")
    p.add_argument("--verbose", action="store_true", help="log every command")
    p.add_argument("--background", action="store_true",
                   help="detach once listening; print the port and return")
    p.add_argument("--pidfile", help="write the server's pid here")
    p.add_argument("--exit-with-parent", action="store_true",
                   help="stop when the starting process goes away, even if it crashed")
    args = p.parse_args()
    if not args.password:
        p.error("give --password or set RH_FTP_PASSWORD")
    return args


def make_server(args):
    root = os.path.abspath(args.root)
    os.makedirs(root, exist_ok=True)
    if args.layout:
        for sub in DOWNLOAD_FOLDERS:
            os.makedirs(os.path.join(root, sub), exist_ok=True)

    auth = DummyAuthorizer()
    auth.add_user(args.user, args.password, root, perm="elradfmwMT")

    handler = EventHandler
    refused = {c.strip().upper() for c in args.refuse.split(",") if c.strip()}
    if refused:
        # Unknown commands get "500 Command ... not understood."
        handler = type("RefusingHandler", (EventHandler,), {
            "proto_cmds": {k: v for k, v in EventHandler.proto_cmds.items() if k not in refused}})
    handler.authorizer = auth
    handler.abstracted_fs = WriteThroughFS if args.write_through else WireFS
    handler.wire_encoding = args.encoding
    handler.auth_failed_timeout = 0.1
    handler.banner = "rollhaven test ftp ready"
    handler.passive_ports = None  # any free port on the listen address
    handler.permit_foreign_addresses = False
    handler.dtp_handler = BulkDTPHandler
    if args.throttle > 0:
        dtp = ThrottledDTPHandler
        dtp.read_limit = args.throttle
        handler.dtp_handler = dtp

    server = FTPServer((args.host, args.port), handler)
    server.max_cons = 64
    return server


def main():
    args = parse_args()
    logging.basicConfig(stream=sys.stdout,
                        level=logging.DEBUG if args.verbose else logging.INFO,
                        format="LOG %(message)s")
    server = make_server(args)
    port = server.socket.getsockname()[1]

    if args.background:
        child = os.fork()
        if child:
            if args.pidfile:
                with open(args.pidfile, "w") as f:
                    f.write("%d\n" % child)
            say("PORT %d" % port)
            return 0
        os.setsid()
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)
    else:
        if args.pidfile:
            with open(args.pidfile, "w") as f:
                f.write("%d\n" % os.getpid())
        say("PORT %d" % port)

    timeout = None
    if args.exit_with_parent and not args.background:
        parent = os.getppid()

        def check_parent():
            if os.getppid() != parent:
                os._exit(0)

        server.ioloop.call_every(0.5, check_parent)
        timeout = 0.5  # otherwise the loop sleeps until the next connection

    try:
        server.serve_forever(timeout=timeout, handle_exit=True)
    finally:
        server.close_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())
