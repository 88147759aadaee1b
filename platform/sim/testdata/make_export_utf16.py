#!/usr/bin/env python3
"""Writes export_utf16.reg: a small HKLM export in the form regedit.exe gives
it on a Windows server (UTF-16LE with byte-order mark, CR LF line ends, binary,
expandable and multi-string data as hex lists wrapped at 80 columns with a
trailing backslash, "@" for a key's default value).

The keys and values are made up after the shape of a file server's registry
(LanmanServer shares and parameters, a printer key, a vendor key); nothing is
copied from a real machine. Run it from this folder to re-create the file.
"""

import struct


def hexlist(prefix, data):
    """regedit's layout: "xx," items, a line is cut before it passes 80 columns."""
    lines, line = [], prefix
    items = ["%02x" % b for b in data]
    for i, item in enumerate(items):
        last = i == len(items) - 1
        piece = item + ("" if last else ",")
        if len(line) + len(piece) > 79 - (0 if last else 1):
            lines.append(line + "\\")
            line = "  "
        line += piece
    lines.append(line)
    return lines


def utf16(text):
    return text.encode("utf-16-le")


def multi(*texts):
    return b"".join(utf16(t) + b"\0\0" for t in texts) + b"\0\0"


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def value(name, kind, data):
    left = "@" if name is None else quoted(name)
    if kind == "sz":
        return [left + "=" + quoted(data)]
    if kind == "dword":
        return [left + "=dword:%08x" % data]
    if kind == "bin":
        return hexlist(left + "=hex:", data)
    return hexlist(left + "=hex(%x):" % kind, data)


# A self-relative security descriptor: owner Administrators, group SYSTEM,
# DACL with one entry granting Everyone full access (0x1f01ff).
security = bytes.fromhex(
    "01000480" "14000000" "24000000" "00000000" "30000000"
    "0102000000000005" "20000000" "20020000"
    "0101000000000005" "12000000"
    "02001c00" "01000000"
    "00001400" "ff011f00" "0101000000000001" "00000000")

keys = [
    ("SOFTWARE", []),
    ("SOFTWARE\\Vendor", []),
    ("SOFTWARE\\Vendor\\Tool", [
        value(None, "sz", "Default text"),
        value("InstallPath", "sz", "C:\\Program Files\\Vendor \"Tool\"\\"),
        value("Empty", "sz", ""),
        value("Level", "dword", 3),
        value("Beschreibung", "sz", "Drucker f\u00fcr B\u00fcro \U0001F5A8"),
        value("Quota", 0xb, struct.pack("<Q", 0x0000000200000001)),
        value("Marker", 0, b""),
        value("OddText", 1, b"A\0B"),
    ]),
    ("SOFTWARE\\Vendor\\Tool\\Empty Key", []),
    ("SYSTEM", []),
    ("SYSTEM\\CurrentControlSet", []),
    ("SYSTEM\\CurrentControlSet\\Services", []),
    ("SYSTEM\\CurrentControlSet\\Services\\LanmanServer", [
        value("ImagePath", 2, utf16("%SystemRoot%\\system32\\svchost.exe -k netsvcs\0")),
        value("Start", "dword", 2),
    ]),
    ("SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters", [
        value("NullSessionShares", 7, multi("COMCFG", "DFS$")),
        value("autodisconnect", "dword", 15),
    ]),
    ("SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares", [
        value("Data", 7, multi("CSCFlags=0", "MaxUses=4294967295", "Path=D:\\Data",
                               "Permissions=0", "Remark=Department data", "Type=0")),
    ]),
    ("SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares\\Security", [
        value("Data", "bin", security),
    ]),
]

lines = ["Windows Registry Editor Version 5.00", ""]
for path, values in keys:
    lines.append("[HKEY_LOCAL_MACHINE\\" + path + "]")
    for v in values:
        lines.extend(v)
    lines.append("")

with open("export_utf16.reg", "wb") as out:
    out.write(b"\xff\xfe" + "\r\n".join(lines + [""]).encode("utf-16-le"))
