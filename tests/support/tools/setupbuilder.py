#!/usr/bin/env python3
"""Stand-in for the two command-line setup builders.

Installed (copied, executable) at the builders' fixed places on the mapped
drive C, next to a copy of mkpe.py:
  <C>/Program Files/Macrovision/IS12/System/IsCmdBld.exe   InstallShield: -x -p <project.ism>
  <C>/Program Files/Inno Setup 5/compil32.exe              Inno Setup:    /cc <script.iss>
The name it is started under picks the builder. The launcher hands Windows
path arguments over already translated to native paths; a project path that
held blanks arrives in pieces and is joined again here.

What each build writes (a small PE image with a version resource, through a
temporary name and a rename so a failed build never leaves a partial file):
  .iss  [Setup] OutputDir\\OutputBaseFilename.exe. OutputDir defaults to
        "Output", OutputBaseFilename to "setup"; relative folders are taken
        from the script's folder. Version from VersionInfoVersion or AppVersion.
  .ism  text lines "Key=Value" (InstallShield keeps its release settings in
        the project; these are the stand-in's):
          RollhavenOutput=<file>        full build: the setup it writes
          RollhavenPatchFolder=<folder> patch build: writes
                                        <folder>\\<project name less .ism>\\Patch\\Update.exe;
                                        an empty value means the project's folder
          RollhavenVersion=a.b.c.d      version of the image (default 1.0.0.0)
          RollhavenProduct=<name>       its product name
Both formats:
  RollhavenFail=all                     the build writes nothing (";" may precede
  RollhavenFail=<n>                     it in an .iss); <n>: only the first n
                                        builds fail, counted in <project>.builds
Windows paths inside a project are translated through the [Drives] section of
the site.ini of the sandbox the stand-in is installed in (found by walking up
from the stand-in's own folder, then the working folder, then
$ROLLHAVEN2_HOME). Every run appends "<tool> <arguments>" to setupbuilders.log
beside that site.ini. Exit code 0 when the output was written, else 1 (usage
2, unmapped drive 3); the release steps never read it.
"""
import os
import re
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


# ------------------------------------------------------------------ site.ini

def find_site_ini():
    folder = HERE
    while True:
        candidate = os.path.join(folder, "site.ini")
        if os.path.isfile(candidate):
            return candidate
        parent = os.path.dirname(folder)
        if parent == folder:
            break
        folder = parent
    for base in (os.getcwd(), os.environ.get("ROLLHAVEN2_HOME", "")):
        if base and os.path.isfile(os.path.join(base, "site.ini")):
            return os.path.join(base, "site.ini")
    return None


def normalise_prefix(prefix):
    p = prefix.strip().replace("/", "\\")
    while len(p) > 2 and p.endswith("\\"):
        p = p[:-1]
    if len(p) == 2 and p[1] == ":":
        p = p.upper()
    return p


def load_drives(site_ini):
    drives = []
    if not site_ini:
        return drives
    base = os.path.dirname(os.path.abspath(site_ini))
    in_drives = False
    with open(site_ini, "rb") as f:
        for raw in f.read().decode("utf-8", "replace").splitlines():
            line = raw.strip()
            if not line or line.startswith(";"):
                continue
            if line.startswith("["):
                in_drives = line.lower() == "[drives]"
                continue
            if not in_drives or "=" not in line:
                continue
            prefix, native = line.rsplit("=", 1)
            prefix, native = prefix.strip(), native.strip()
            if not prefix or not native:
                continue
            if not os.path.isabs(native):
                native = os.path.normpath(os.path.join(base, native))
            drives.append((normalise_prefix(prefix), native.rstrip("/") or "/"))
    drives.sort(key=lambda e: len(e[0]), reverse=True)
    return drives


class Unmapped(Exception):
    pass


def to_native(path, drives, base_folder):
    """A Windows or native path as a native one; relative ones from base_folder."""
    if path.startswith("/") and not path.startswith("//"):
        return path.replace("\\", "/")
    p = path.replace("/", "\\")
    is_drive = len(p) >= 2 and p[1] == ":" and p[0].isascii() and p[0].isalpha()
    if is_drive or p.startswith("\\\\"):
        for prefix, native in drives:
            if not p.lower().startswith(prefix.lower()):
                continue
            if len(p) > len(prefix) and p[len(prefix)] != "\\":
                continue
            rest = p[len(prefix):].replace("\\", "/")
            if not rest:
                return native
            return rest if native == "/" else native + rest
        raise Unmapped("unmapped drive or share: " + path)
    return os.path.join(base_folder, p.replace("\\", "/"))


# ------------------------------------------------------------------ projects

def read_text(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8", "replace")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return data.decode("cp949", "replace")


def key_values(text, section=None):
    """Key=Value lines, keys lower-cased; only inside [section] when given."""
    values = {}
    current = None
    for raw in text.splitlines():
        line = raw.strip()
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1].strip().lower()
            continue
        if section is not None and current != section:
            continue
        if "=" not in line or line.startswith(";"):
            continue
        key, value = line.split("=", 1)
        value = value.strip()
        if len(value) >= 2 and value[0] == value[-1] == '"':
            value = value[1:-1]
        values.setdefault(key.strip().lower(), value)
    return values


def fail_setting(text):
    for raw in text.splitlines():
        m = re.match(r"^\s*;?\s*RollhavenFail\s*=\s*(\S+)\s*$", raw, re.IGNORECASE)
        if m:
            return m.group(1).lower()
    return None


def should_fail(project, text):
    setting = fail_setting(text)
    if setting is None:
        return False
    if setting == "all":
        return True
    try:
        limit = int(setting)
    except ValueError:
        return True
    counter = project + ".builds"
    done = 0
    if os.path.isfile(counter):
        with open(counter) as f:
            done = int(f.read().strip() or 0)
    with open(counter, "w") as f:
        f.write(str(done + 1))
    return done < limit


def version_of(text):
    if text and re.fullmatch(r"\d+(\.\d+){0,3}", text):
        parts = text.split(".") + ["0"] * 3
        return ".".join(parts[:4])
    return "1.0.0.0"


def write_image(out, version, product):
    """A PE image with a version resource, written under a temporary name."""
    folder = os.path.dirname(out)
    os.makedirs(folder, exist_ok=True)
    fd, tmp = tempfile.mkstemp(prefix=".build-", suffix=".tmp", dir=folder)
    os.close(fd)
    try:
        sys.path.insert(0, HERE)
        sys.dont_write_bytecode = True  # nothing beside the installed tool
        try:
            import mkpe
        except ImportError:
            mkpe = None
        if mkpe is not None:
            argv = [sys.argv[0], tmp, "--version", version, "--lang", "0412"]
            if product:
                argv += ["--string", "ProductName=" + product,
                         "--string", "FileDescription=" + product + " Setup"]
            saved, sys.argv = sys.argv, argv
            try:
                mkpe.main()
            finally:
                sys.argv = saved
        else:
            with open(tmp, "wb") as f:
                f.write(b"MZ" + b"\0" * 62)
        # A setup of a realistic size for transfer benchmarks: data after the
        # image's sections, as an installer's payload is.
        pad = int(os.environ.get("RH_SETUP_PAD_BYTES", "0") or 0)
        if pad > 0:
            with open(tmp, "ab") as f:
                f.write(os.urandom(pad))
        os.replace(tmp, out)
    finally:
        if os.path.exists(tmp):
            os.unlink(tmp)


def inno_outputs(project, text, drives):
    setup = key_values(text, "setup")
    base = os.path.dirname(project)
    out_dir = to_native(setup.get("outputdir", "Output") or "Output", drives, base)
    name = setup.get("outputbasefilename", "setup") or "setup"
    version = version_of(setup.get("versioninfoversion") or setup.get("appversion"))
    return [os.path.join(out_dir, name + ".exe")], version, setup.get("appname", "")


def installshield_outputs(project, text, drives):
    values = key_values(text)
    base = os.path.dirname(project)
    outputs = []
    if values.get("rollhavenoutput"):
        outputs.append(to_native(values["rollhavenoutput"], drives, base))
    if "rollhavenpatchfolder" in values:
        folder = values["rollhavenpatchfolder"]
        folder = to_native(folder, drives, base) if folder else base
        stem = os.path.splitext(os.path.basename(project))[0]
        outputs.append(os.path.join(folder, stem, "Patch", "Update.exe"))
    return outputs, version_of(values.get("rollhavenversion")), values.get("rollhavenproduct", "")


# ------------------------------------------------------------------ main

def project_argument(args, switch_values):
    """The project path: everything after the builder's switches, rejoined."""
    rest = list(args)
    while rest and rest[0].lower() in switch_values:
        rest.pop(0)
    return " ".join(rest)


def main():
    tool = os.path.basename(sys.argv[0]).lower()
    args = sys.argv[1:]
    site_ini = find_site_ini()
    if site_ini:
        log = os.path.join(os.path.dirname(site_ini), "setupbuilders.log")
        with open(log, "a", encoding="utf-8") as f:
            f.write(" ".join([os.path.basename(sys.argv[0])] + args) + "\n")

    if tool.startswith("iscmdbld"):
        project = project_argument(args, {"-x", "-p"})
    elif tool.startswith("compil32"):
        project = project_argument(args, {"/cc", "/c"})
    else:
        project = project_argument(args, {"-x", "-p", "/cc", "/c"})
    if not project:
        sys.stderr.write("usage: IsCmdBld.exe -x -p <project.ism> | compil32.exe /cc <script.iss>\n")
        return 2
    drives = load_drives(site_ini)
    try:
        project = to_native(project, drives, os.getcwd())
        if not os.path.isfile(project):
            sys.stderr.write("project not found: %s\n" % project)
            return 1
        text = read_text(project)
        if project.lower().endswith(".iss"):
            outputs, version, product = inno_outputs(project, text, drives)
        else:
            outputs, version, product = installshield_outputs(project, text, drives)
    except Unmapped as e:
        sys.stderr.write("%s\n" % e)
        return 3
    if should_fail(project, text):
        sys.stderr.write("build failed (RollhavenFail): %s\n" % project)
        return 1
    if not outputs:
        sys.stderr.write("the project names no output: %s\n" % project)
        return 1
    for out in outputs:
        write_image(out, version, product)
    return 0


if __name__ == "__main__":
    sys.exit(main())
