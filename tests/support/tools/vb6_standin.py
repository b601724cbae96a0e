#!/usr/bin/env python3
"""Stand-in for the development environment's command line (vb6.exe).

  vb6.exe /runexit PROJECT.vbp   "runs" the project, then exits
  vb6.exe /make PROJECT.vbp      writes the executable the project names

The make run reads MajorVer, MinorVer, RevisionVer, ExeName32 and Path32 (and
the Version* texts) from the project file (CP949) and writes the executable as
a real PE image through mkpe.py: fixed FileVersion major.minor.0.revision,
a Korean (0412/04B0) string table whose FileVersion reads as the development
environment writes it, "major.mm.rrrr".

A project file line "RollhavenStandIn=" with comma-separated words changes
the behaviour, for tests:
  FailBuild      every make run fails (no executable)
  FailBuilds:N   the first N make runs fail (counted beside the project file)
  RunUntil:PATH  the run lasts until PATH exists (a minute at most)
  MakeMs:N       the make run takes N milliseconds

Every call is appended to the file named by RH_STANDIN_LOG, when set, as
"vb6 SWITCH PATH".

With RH_VB6_HOLD=PATH set, a make run writes its pid to PATH.started and
waits until PATH exists (two minutes at most) before it builds: a test can
catch the program in the middle of a compile.
"""
import importlib.util
import os
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.realpath(__file__))
MKPE = os.environ.get("RH_MKPE") or os.path.join(HERE, "mkpe.py")


def log(line):
    path = os.environ.get("RH_STANDIN_LOG")
    if path:
        with open(path, "a", encoding="utf-8") as f:
            f.write(line + "\n")


def read_project(path):
    fields = {}
    with open(path, "rb") as f:
        for raw in f.read().split(b"\n"):
            line = raw.rstrip(b"\r").decode("cp949", errors="replace")
            if "=" not in line or line.startswith("["):
                continue
            key, value = line.split("=", 1)
            value = value.strip()
            if len(value) >= 2 and value[0] == value[-1] == '"':
                value = value[1:-1]
            fields.setdefault(key.strip(), value)
    return fields


def options(fields):
    out = {}
    for word in fields.get("RollhavenStandIn", "").split(","):
        word = word.strip()
        if not word:
            continue
        name, _, arg = word.partition(":")
        out[name] = arg
    return out


def number(fields, key):
    text = fields.get(key, "0").strip() or "0"
    try:
        return int(text)
    except ValueError:
        raise SystemExit("vb6 stand-in: %s is not a number: %s" % (key, text))


def exe_path(project, fields):
    folder = os.path.dirname(os.path.abspath(project))
    name = fields.get("ExeName32") or os.path.splitext(os.path.basename(project))[0] + ".exe"
    sub = fields.get("Path32", "")
    if len(sub) >= 2 and sub[1] == ":" or sub.startswith("\\\\"):
        raise SystemExit("vb6 stand-in: Path32 must be relative to the project file: " + sub)
    sub = sub.replace("\\", "/")
    return os.path.normpath(os.path.join(folder, sub, name))


def failing(project, opts):
    if "FailBuild" in opts:
        return True
    if "FailBuilds" not in opts:
        return False
    counter = os.path.join(os.path.dirname(os.path.abspath(project)),
                           "." + os.path.basename(project) + ".standin-builds")
    try:
        with open(counter) as f:
            done = int(f.read().strip() or "0")
    except (OSError, ValueError):
        done = 0
    with open(counter, "w") as f:
        f.write(str(done + 1))
    return done < int(opts["FailBuilds"] or "0")


def run_mkpe(args):
    """mkpe.py in this process (one interpreter start less per build)."""
    spec = importlib.util.spec_from_file_location("mkpe", MKPE)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    saved = sys.argv
    sys.argv = [MKPE] + args
    try:
        module.main()
    finally:
        sys.argv = saved


def hold():
    path = os.environ.get("RH_VB6_HOLD")
    if not path:
        return
    with open(path + ".started", "w") as f:
        f.write("%d\n" % os.getpid())
    deadline = time.monotonic() + 120
    while not os.path.exists(path) and time.monotonic() < deadline:
        time.sleep(0.02)


def make(project, fields, opts):
    hold()
    if "MakeMs" in opts:
        time.sleep(int(opts["MakeMs"]) / 1000.0)
    if failing(project, opts):
        print("vb6 stand-in: build failed as the project file asks", file=sys.stderr)
        return 1
    major, minor, revision = (number(fields, k) for k in ("MajorVer", "MinorVer", "RevisionVer"))
    out = exe_path(project, fields)
    title = fields.get("Title", os.path.splitext(os.path.basename(out))[0])
    text_version = "%d.%02d.%04d" % (major, minor, revision)
    strings = {
        "CompanyName": fields.get("VersionCompanyName", ""),
        "FileDescription": fields.get("VersionFileDescription") or title,
        "FileVersion": text_version,
        "InternalName": os.path.splitext(os.path.basename(out))[0],
        "LegalCopyright": fields.get("VersionLegalCopyright", ""),
        "LegalTrademarks": fields.get("VersionLegalTrademarks", ""),
        "OriginalFilename": os.path.basename(out),
        "ProductName": fields.get("VersionProductName") or title,
        "ProductVersion": text_version,
        "Comments": fields.get("VersionComments", ""),
    }
    os.makedirs(os.path.dirname(out), exist_ok=True)
    fd, tmp = tempfile.mkstemp(prefix="." + os.path.basename(out) + ".", dir=os.path.dirname(out))
    os.close(fd)
    args = [tmp, "--version", "%d.%d.0.%d" % (major, minor, revision),
            "--lang", "0412", "--codepage", "04B0"]
    for key, value in strings.items():
        args += ["--string", "%s=%s" % (key, value)]
    try:
        run_mkpe(args)
        os.chmod(tmp, 0o644)
        os.replace(tmp, out)
    except (OSError, SystemExit) as e:
        print("vb6 stand-in: could not write %s: %s" % (out, e), file=sys.stderr)
        if os.path.exists(tmp):
            os.unlink(tmp)
        return 1
    return 0


def main(argv):
    if len(argv) < 2 or argv[0].lower() not in ("/make", "/runexit"):
        print("usage: vb6.exe /make|/runexit PROJECT.vbp", file=sys.stderr)
        return 2
    switch = argv[0].lower()
    project = " ".join(argv[1:])  # the path comes unquoted
    log("vb6 %s %s" % (switch, project))
    if not os.path.isfile(project):
        print("vb6 stand-in: no project file " + project, file=sys.stderr)
        return 1
    fields = read_project(project)
    opts = options(fields)
    if switch == "/runexit":
        until = opts.get("RunUntil")
        deadline = time.monotonic() + 60
        while until and not os.path.exists(until) and time.monotonic() < deadline:
            time.sleep(0.02)
        return 0
    return make(project, fields, opts)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
