#!/usr/bin/env python3
"""The demo's data folder D:\\Data of SRV01, as Windows would see it.

  data_folder.py prepare <drive folder>   gives the folder what git cannot keep:
      the empty folder Archive, the hidden read-only Public\\readme.txt,
      creation and last-write times, and a protected access list on Finance
      (CORP\\Contractors denied writing, CORP\\Finance Team allowed to change,
      Administrators full control); in the extended attributes the simulated
      world reads (see the README).
  data_folder.py show <drive folder>      prints every file and folder below
      Data with its attributes, times and own access list.
"""
import os
import struct
import sys

ATTRIBUTES = "user.corvan.attributes"
CREATED = "user.corvan.created"
SECURITY = "user.corvan.security"

ACCOUNTS = {
    "S-1-5-21-1004336348-1177238915-682003330-1211": "CORP\\Contractors",
    "S-1-5-21-1004336348-1177238915-682003330-1210": "CORP\\Finance Team",
    "S-1-5-32-544": "BUILTIN\\Administrators",
}


def sid_bytes(text):
    parts = text.split("-")
    authority, subs = int(parts[2]), [int(p) for p in parts[3:]]
    return struct.pack("<BB", 1, len(subs)) + authority.to_bytes(6, "big") + b"".join(struct.pack("<I", s) for s in subs)


def sid_text(data):
    count = data[1]
    authority = int.from_bytes(data[2:8], "big")
    subs = struct.unpack_from("<%dI" % count, data, 8)
    return "S-1-%d%s" % (authority, "".join("-%d" % s for s in subs)), 8 + 4 * count


def descriptor(entries, protected):
    """A self-relative descriptor holding only a list: header, then the list."""
    aces = b""
    for kind, flags, mask, sid in entries:
        body = struct.pack("<I", mask) + sid_bytes(sid)
        aces += struct.pack("<BBH", kind, flags, 4 + len(body)) + body
    acl = struct.pack("<BBHHH", 2, 0, 8 + len(aces), len(entries), 0) + aces
    control = 0x0004 | 0x8000 | (0x1000 if protected else 0)  # DACL present, self-relative, protected
    return struct.pack("<BBHIIII", 1, 0, control, 0, 0, 0, 20) + acl


def own_list(path):
    try:
        sd = os.getxattr(path, SECURITY, follow_symlinks=False)
    except OSError:
        return "inherits all"
    control, = struct.unpack_from("<H", sd, 2)
    dacl, = struct.unpack_from("<I", sd, 16)
    count, = struct.unpack_from("<H", sd, dacl + 4)
    at, shown = dacl + 8, []
    for _ in range(count):
        kind, flags, size = struct.unpack_from("<BBH", sd, at)
        mask, = struct.unpack_from("<I", sd, at + 4)
        sid, _ = sid_text(sd[at + 8:at + size])
        shown.append("%s %s %08x" % ("deny" if kind == 1 else "allow", ACCOUNTS.get(sid, sid), mask))
        at += size
    return ("protected: " if control & 0x1000 else "") + "; ".join(shown)


def attributes(path):
    if os.path.isdir(path):
        word = 0x10
    else:
        word = 0x20 | (0 if os.stat(path).st_mode & 0o200 else 0x01)
    try:
        stored = int(os.getxattr(path, ATTRIBUTES, follow_symlinks=False), 16)
        word = (stored | 0x10) if os.path.isdir(path) else ((stored & ~0x01) | (word & 0x01))
    except OSError:
        pass
    names = [n for bit, n in ((0x01, "read-only"), (0x02, "hidden"), (0x04, "system"), (0x20, "archive")) if word & bit]
    return ",".join(names) or "-"


def times(path):
    created = os.getxattr(path, CREATED, follow_symlinks=False).decode() if CREATED in os.listxattr(path) else "host"
    return "created %s, written %d" % (created, os.stat(path).st_mtime_ns // 100)


def prepare(drive):
    data = os.path.join(drive, "Data")
    os.makedirs(os.path.join(data, "Archive"), exist_ok=True)
    readme = os.path.join(data, "Public", "readme.txt")
    os.setxattr(readme, ATTRIBUTES, b"00000022")  # hidden, archive
    os.chmod(readme, 0o444)                       # read-only
    # Times from 2019 on, one hour apart, so none equals the copy's.
    stamp = 132000000000000000
    for root, folders, files in os.walk(data):
        for name in sorted(folders + files):
            path = os.path.join(root, name)
            stamp += 36000000000
            os.setxattr(path, CREATED, b"%016x" % stamp)
            seconds = stamp // 10000000 - 11644473600 + 7 * 86400
            os.utime(path, ns=(seconds * 10**9, seconds * 10**9))
    finance = [(1, 0x03, 0x000D0116, "S-1-5-21-1004336348-1177238915-682003330-1211"),
               (0, 0x03, 0x001301BF, "S-1-5-21-1004336348-1177238915-682003330-1210"),
               (0, 0x03, 0x001F01FF, "S-1-5-32-544")]
    os.setxattr(os.path.join(data, "Finance"), SECURITY, descriptor(finance, True))


def show(drive):
    data = os.path.join(drive, "Data")
    for root, folders, files in os.walk(data):
        folders.sort()
        for name in sorted(folders) + sorted(files):
            path = os.path.join(root, name)
            relative = os.path.relpath(path, data).replace("/", "\\")
            kind = "dir " if os.path.isdir(path) else "%4d B" % os.path.getsize(path)
            print("  %-26s %s  %-24s %s; %s" % ("Data\\" + relative, kind, attributes(path), times(path), own_list(path)))


if __name__ == "__main__":
    {"prepare": prepare, "show": show}[sys.argv[1]](sys.argv[2])
