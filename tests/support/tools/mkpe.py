#!/usr/bin/env python3
"""Write a minimal but real PE32 / PE32+ image with a version resource.

The image has a one-instruction .text section and a .rsrc section holding one
RT_VERSION resource (VS_VERSIONINFO with VS_FIXEDFILEINFO, a StringFileInfo
table and VarFileInfo\\Translation), laid out the way resource compilers do.
Tests use it for version-reading cases, the compiler stand-in for its output.

  mkpe.py OUT.exe --version 3.0.0.7 --lang 0412 --codepage 04B0 \\
          --string FileDescription=원장관리 --string CompanyName=... [--pe64]

--text-size makes the .text section that large (written as a hole, so a
500 MB image costs no disk), which puts the resource far into the file.
--print-layout prints the file offsets of the resource structures as JSON so
tests can damage them on purpose.
"""
import argparse
import json
import struct
import sys

FILE_ALIGN = 0x200
SECT_ALIGN = 0x1000
IMAGE_BASE32 = 0x400000
IMAGE_BASE64 = 0x140000000
RT_VERSION = 16


def align(n, a):
    return (n + a - 1) // a * a


def pad4(b):
    return b + b"\0" * (align(len(b), 4) - len(b))


def utf16z(text):
    return text.encode("utf-16-le") + b"\0\0"


def vs_node(key, value, wtype, value_length, children=()):
    """One version-block node: wLength, wValueLength, wType, key, value, children."""
    body = struct.pack("<HHH", 0, value_length, wtype) + utf16z(key)
    if value:
        body = pad4(body) + value
    for child in children:
        body = pad4(body) + child
    if len(body) > 0xFFFF:
        raise SystemExit("mkpe: version block too large")
    return struct.pack("<H", len(body)) + body[2:]


def version_words(text):
    parts = [int(p) for p in text.split(".")]
    if len(parts) > 4 or any(p < 0 or p > 0xFFFF for p in parts):
        raise SystemExit("mkpe: version must be up to four numbers 0-65535: " + text)
    parts += [0] * (4 - len(parts))
    return (parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]


def version_block(args):
    fv_ms, fv_ls = version_words(args.version)
    pv_ms, pv_ls = version_words(args.product_version or args.version)
    fixed = struct.pack(
        "<13I",
        0xFEEF04BD, 0x00010000, fv_ms, fv_ls, pv_ms, pv_ls,
        0x3F, 0, 0x00040004, 2 if args.dll else 1, 0, 0, 0)

    strings = []
    seen = set()
    for item in args.string:
        if "=" not in item:
            raise SystemExit("mkpe: --string wants NAME=VALUE: " + item)
        name, value = item.split("=", 1)
        seen.add(name)
        strings.append((name, value))
    if not args.no_default_strings:
        if "FileVersion" not in seen:
            strings.append(("FileVersion", args.version))
        if "ProductVersion" not in seen:
            strings.append(("ProductVersion", args.product_version or args.version))

    children = []
    if not args.no_string_table:
        table_key = args.table_key or (args.lang + args.codepage).upper()
        entries = []
        for name, value in strings:
            data = utf16z(value)
            # wValueLength counts UTF-16 units with the NUL, as rc.exe writes it.
            entries.append(vs_node(name, data, 1, len(data) // 2))
        children.append(vs_node("StringFileInfo", b"", 1, 0,
                                [vs_node(table_key, b"", 1, 0, entries)]))
    if not args.no_var_info:
        translation = struct.pack("<HH", int(args.lang, 16), int(args.codepage, 16))
        children.append(vs_node("VarFileInfo", b"", 1, 0,
                                [vs_node("Translation", translation, 0, 4)]))
    return vs_node("VS_VERSION_INFO", fixed, 0, len(fixed), children)


def resource_section(block, rsrc_rva, lang_id):
    """Type 16 -> name 1 -> language -> data entry, then the block."""
    layout = {}
    root = struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1)
    type_dir_off = 16 + 8
    root += struct.pack("<II", RT_VERSION, 0x80000000 | type_dir_off)
    layout["root_dir"] = 0
    layout["type_entry"] = 16

    name_dir_off = type_dir_off + 16 + 8
    type_dir = struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1)
    type_dir += struct.pack("<II", 1, 0x80000000 | name_dir_off)
    layout["name_dir"] = type_dir_off
    layout["name_entry"] = type_dir_off + 16

    data_entry_off = name_dir_off + 16 + 8
    name_dir = struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1)
    name_dir += struct.pack("<II", lang_id, data_entry_off)
    layout["lang_dir"] = name_dir_off
    layout["lang_entry"] = name_dir_off + 16

    block_off = align(data_entry_off + 16, 8)
    data_entry = struct.pack("<IIII", rsrc_rva + block_off, len(block), 0, 0)
    layout["data_entry"] = data_entry_off
    layout["block"] = block_off
    layout["block_size"] = len(block)

    section = root + type_dir + name_dir + data_entry
    section += b"\0" * (block_off - len(section)) + block
    return section, layout


def build(args):
    pe64 = args.pe64
    text_raw = align(max(args.text_size, 1), FILE_ALIGN)
    text_virtual = max(args.text_size, 1)
    headers_size = align(0x40 + 4 + 20 + (240 if pe64 else 224) + 2 * 40, FILE_ALIGN)

    text_rva = SECT_ALIGN
    rsrc_rva = align(text_rva + text_virtual, SECT_ALIGN)
    text_off = headers_size
    rsrc_off = text_off + text_raw

    if args.no_resource:
        rsrc, layout = b"", {}
    else:
        lang_id = int(args.resource_lang or args.lang, 16)
        rsrc, layout = resource_section(version_block(args), rsrc_rva, lang_id)
    rsrc_raw = align(max(len(rsrc), 1), FILE_ALIGN)
    nsections = 1 if args.no_resource else 2
    image_size = align(rsrc_rva + (max(len(rsrc), 1) if rsrc else 0), SECT_ALIGN)

    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)

    machine = 0x8664 if pe64 else 0x14C
    characteristics = 0x0002 | (0x0020 if pe64 else 0x0100) | (0x2000 if args.dll else 0)
    opt_size = 240 if pe64 else 224
    coff = struct.pack("<HHIIIHH", machine, nsections, 0, 0, 0, opt_size, characteristics)

    # Optional header: standard fields, then the Windows-specific ones.
    if pe64:
        opt = struct.pack("<HBBIIIII", 0x20B, 2, 40, text_raw, rsrc_raw, 0, text_rva, text_rva)
        opt += struct.pack("<Q", IMAGE_BASE64)
    else:
        opt = struct.pack("<HBBIIIIII", 0x10B, 2, 40, text_raw, rsrc_raw, 0, text_rva, text_rva,
                          rsrc_rva)
        opt += struct.pack("<I", IMAGE_BASE32)
    opt += struct.pack("<IIHHHHHHIIIIHH", SECT_ALIGN, FILE_ALIGN, 4, 0, 0, 0, 4, 0, 0,
                       image_size, headers_size, 0, 3, 0x8540)
    stack = struct.pack("<QQQQ" if pe64 else "<IIII", 0x100000, 0x1000, 0x100000, 0x1000)
    opt += stack + struct.pack("<II", 0, 16)
    dirs = [(0, 0)] * 16
    if rsrc:
        dirs[2] = (rsrc_rva, len(rsrc))
    for rva, size in dirs:
        opt += struct.pack("<II", rva, size)
    assert len(opt) == opt_size, len(opt)

    sections = struct.pack("<8sIIIIIIHHI", b".text", text_virtual, text_rva, text_raw, text_off,
                           0, 0, 0, 0, 0x60000020)
    if rsrc:
        sections += struct.pack("<8sIIIIIIHHI", b".rsrc", len(rsrc), rsrc_rva, rsrc_raw,
                                rsrc_off, 0, 0, 0, 0, 0x40000040)

    header = bytes(dos) + b"PE\0\0" + coff + opt + sections
    header += b"\0" * (headers_size - len(header))

    with open(args.out, "wb") as f:
        f.write(header)
        f.write(b"\xC3")  # ret: the entry point
        if rsrc:
            f.seek(rsrc_off)  # the rest of .text stays a hole
            f.write(rsrc + b"\0" * (rsrc_raw - len(rsrc)))
        else:
            f.seek(text_off + text_raw - 1)
            f.write(b"\0")
        if args.file_size and args.file_size > f.tell():
            f.truncate(args.file_size)

    if args.print_layout:
        out = {k: (v + rsrc_off if k not in ("block_size",) else v) for k, v in layout.items()}
        out["rsrc_offset"] = rsrc_off if rsrc else 0
        out["rsrc_rva"] = rsrc_rva if rsrc else 0
        out["section_table"] = 0x40 + 4 + 20 + opt_size
        out["optional_header"] = 0x40 + 4 + 20
        json.dump(out, sys.stdout)
        sys.stdout.write("\n")


def main():
    p = argparse.ArgumentParser(description="Write a minimal PE image with a version resource.")
    p.add_argument("out")
    p.add_argument("--version", default="1.0.0.0", help="file version a.b.c.d")
    p.add_argument("--product-version", help="product version a.b.c.d (default: --version)")
    p.add_argument("--lang", default="0409", help="language id, hex (0412 Korean)")
    p.add_argument("--codepage", default="04B0", help="code page, hex (04B0 Unicode)")
    p.add_argument("--table-key", help="string table key as written (default LANG+CODEPAGE)")
    p.add_argument("--resource-lang", help="language of the resource entry (default --lang)")
    p.add_argument("--string", action="append", default=[], metavar="NAME=VALUE")
    p.add_argument("--no-default-strings", action="store_true",
                   help="do not add FileVersion/ProductVersion strings from --version")
    p.add_argument("--no-string-table", action="store_true")
    p.add_argument("--no-var-info", action="store_true")
    p.add_argument("--no-resource", action="store_true", help="no .rsrc section at all")
    p.add_argument("--pe64", action="store_true", help="PE32+ (x86-64) instead of PE32")
    p.add_argument("--dll", action="store_true")
    p.add_argument("--text-size", type=int, default=0x200, help=".text size in bytes")
    p.add_argument("--file-size", type=int, default=0, help="extend the file to this size")
    p.add_argument("--print-layout", action="store_true")
    build(p.parse_args())


if __name__ == "__main__":
    main()
