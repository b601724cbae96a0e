#!/usr/bin/env python3
"""Runs a command as a child subreaper and reports how every process it left
behind ended.

The program hands over to the file changer, which replaces it and starts it
again; both are started detached, so neither is a child of the demo and the
shell cannot wait for them. As a subreaper this process inherits them when
their parents end, so it can wait for each one and learn its exit code.

usage: reap.py STATUS_FILE TIMEOUT_SECONDS COMMAND [ARG...]

Runs COMMAND with the same standard streams, waits until no descendant is
left or TIMEOUT_SECONDS have passed, and writes one line per process that
ended to STATUS_FILE: "<pid> <exit code>" (a signal N is written as 128+N).
Exits with COMMAND's own exit code, or 124 when descendants were still
running at the deadline (they are named on standard error and left alone).
"""
import ctypes
import os
import sys
import time

PR_SET_CHILD_SUBREAPER = 36


def code_of(status):
    if os.WIFEXITED(status):
        return os.WEXITSTATUS(status)
    if os.WIFSIGNALED(status):
        return 128 + os.WTERMSIG(status)
    return 255


def descendants():
    """Processes whose parent is this one (orphans re-parented here included)."""
    me = str(os.getpid())
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read().decode("utf-8", "replace")
        except OSError:
            continue
        # The name may hold blanks and parentheses: fields follow the last ")".
        fields = stat[stat.rfind(")") + 2:].split()
        if len(fields) > 1 and fields[1] == me:
            found.append(int(entry))
    return found


def main():
    if len(sys.argv) < 4:
        print("usage: reap.py STATUS_FILE TIMEOUT_SECONDS COMMAND [ARG...]", file=sys.stderr)
        return 2
    status_file, timeout, command = sys.argv[1], float(sys.argv[2]), sys.argv[3:]
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        print(f"reap.py: cannot become a subreaper: {os.strerror(ctypes.get_errno())}", file=sys.stderr)
        return 2
    deadline = time.monotonic() + timeout
    first = os.fork()
    if first == 0:
        try:
            os.execvp(command[0], command)
        except OSError as e:
            print(f"reap.py: cannot run {command[0]}: {e.strerror}", file=sys.stderr)
            os._exit(127)
    own_code = None
    with open(status_file, "w", encoding="ascii") as out:
        while True:
            try:
                pid, status = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                break  # nothing left to wait for
            if pid == 0:
                if time.monotonic() > deadline:
                    left = descendants()
                    print(f"reap.py: still running after {timeout:.0f} s: {left}", file=sys.stderr)
                    return 124
                time.sleep(0.05)
                continue
            code = code_of(status)
            out.write(f"{pid} {code}\n")
            out.flush()
            if pid == first:
                own_code = code
    return own_code if own_code is not None else 255


if __name__ == "__main__":
    sys.exit(main())
