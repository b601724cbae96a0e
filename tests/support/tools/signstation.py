#!/usr/bin/env python3
"""Stand-in for the code-signing station on the shared drive S:.

Watches the unsigned folder; a file that has been there unchanged for
--delay seconds is "signed" and moved to the signed folder under the same
name: the signed copy is written beside its final name and renamed into
place, then the unsigned file is removed. Signing appends a certificate
record (WIN_CERTIFICATE, revision 2.0, PKCS#7 type) holding a marker text
and, for PE images, points the security directory at it. With --cert and
--key it signs for real instead (osslsigncode, Authenticode); a file that
cannot be signed so is handed back unsigned, as a misconfigured station would.

  signstation.py --unsigned DIR --signed DIR [--delay S] [--poll S]
                 [--cert PEM --key PEM] [--pidfile FILE] [--owner-pid PID] [--once]
                 [--hold-until FILE] [--log FILE]

Stops on SIGTERM or SIGINT, or once the owner process has gone. Names starting with "." are temporary files of
a copy in progress and are left alone. --once signs what is there and exits.
--hold-until signs nothing until FILE exists (files wait, their delay
running); --log appends "signed NAME" for every file signed to FILE.
"""
import argparse
import os
import shutil
import signal
import subprocess
import struct
import sys
import time

MARKER = b"Rollhaven2 stand-in signature"
running = True


def stop(_signum, _frame):
    global running
    running = False


def security_dir_offset(data):
    """File offset of the security data directory entry, or None."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if pe + 24 + 2 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return None
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112 if magic == 0x20B else -1)
    if dirs < opt:
        return None
    entry = dirs + 4 * 8
    return entry if entry + 8 <= len(data) else None


def signed_bytes(data):
    data = bytearray(data)
    data += b"\0" * ((8 - len(data) % 8) % 8)
    payload = MARKER + b"\0" * ((8 - len(MARKER) % 8) % 8)
    cert = struct.pack("<IHH", 8 + len(payload), 0x0200, 0x0002) + payload
    entry = security_dir_offset(data)
    if entry is not None:
        struct.pack_into("<II", data, entry, len(data), len(cert))
    return bytes(data) + cert


def sign(name, unsigned, signed, cert=None, key=None, at=None):
    src = os.path.join(unsigned, name)
    tmp = os.path.join(signed, "." + name + ".signing")
    if cert:
        when = ["-time", str(at)] if at else []
        done = subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key] + when + ["-in", src, "-out", tmp],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if done.returncode != 0:
            print("not signed " + name + ": " + done.stderr.decode(errors="replace").strip(), flush=True)
            shutil.copyfile(src, tmp)
    else:
        with open(src, "rb") as f:
            data = f.read()
        with open(tmp, "wb") as f:
            f.write(signed_bytes(data))
    os.replace(tmp, os.path.join(signed, name))
    os.unlink(src)


def scan(args, seen, now, force=False):
    try:
        names = sorted(os.listdir(args.unsigned))
    except FileNotFoundError:
        return
    current = set()
    for name in names:
        if name.startswith("."):
            continue
        path = os.path.join(args.unsigned, name)
        try:
            st = os.stat(path)
        except FileNotFoundError:
            continue
        if not os.path.isfile(path):
            continue
        current.add(name)
        state = (st.st_size, st.st_mtime_ns)
        first, last = seen.get(name, (now, None))
        if last != state:
            seen[name] = (now, state)  # new or changed: the delay starts again
            if not force:
                continue
        if force or now - first >= args.delay:
            if args.hold_until and not os.path.exists(args.hold_until):
                continue
            try:
                sign(name, args.unsigned, args.signed, args.cert, args.key, args.time)
                print("signed " + name, flush=True)
                if args.log:
                    with open(args.log, "a", encoding="utf-8") as f:
                        f.write("signed " + name + "\n")
            except FileNotFoundError:
                pass
            seen.pop(name, None)
    for gone in set(seen) - current:
        seen.pop(gone, None)


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--unsigned", required=True)
    p.add_argument("--signed", required=True)
    p.add_argument("--delay", type=float, default=1.0, help="seconds a file waits before signing")
    p.add_argument("--poll", type=float, default=0.1, help="seconds between looks at the folder")
    p.add_argument("--cert", help="PEM certificate to sign with (osslsigncode)")
    p.add_argument("--key", help="PEM private key of --cert")
    p.add_argument("--time", type=int, help="signing time (unix): the same file signs to the same bytes")
    p.add_argument("--pidfile")
    p.add_argument("--owner-pid", type=int, help="stop when this process has ended")
    p.add_argument("--once", action="store_true")
    p.add_argument("--hold-until", help="sign nothing until this file exists")
    p.add_argument("--log", help="append a line per signed file here")
    args = p.parse_args()
    os.makedirs(args.signed, exist_ok=True)
    if args.once:
        scan(args, {}, time.monotonic(), force=True)
        return 0
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if args.pidfile:
        with open(args.pidfile, "w") as f:
            f.write("%d\n" % os.getpid())
    seen = {}
    print("ready", flush=True)
    while running:
        if args.owner_pid and not alive(args.owner_pid):
            break
        scan(args, seen, time.monotonic())
        time.sleep(args.poll)
    if args.pidfile:
        try:
            os.unlink(args.pidfile)
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
