#!/usr/bin/env python3
"""Writes the print server of the demo into the registry files of examples/:
world/SRV01/HKLM.reg (the server to migrate) and fresh-SRV01.reg (the server
that replaces it). Every key below Control\\Print and CurrentVersion\\Ports is
written here; the other keys of those files are kept as they are.

SRV01 has the Local Port and Standard TCP/IP Port monitors, the local ports
COM1:, LPT1: and FILE:, two TCP/IP ports (IP_10.0.0.5, RAW on 9100 with SNMP;
IP_10.0.0.6, LPR with a queue name and double spool), the winprint
processor, three drivers and three printers:

- LASER01, shared, on the RAW port: a device mode with private driver bytes
  (Letter, landscape, duplex), permissions that deny CORP\Contractors before
  allowing others, driver data and a separator page;
- DESIGN01, an unshared plotter on the LPR port;
- LASER02, shared, on LPT1:, with the driver "HP LaserJet 4" that the fresh
  server lacks (SupportedDrivers.txt maps it to one it has).

The fresh server has the monitors, the local ports, the processor and two of
the drivers, and none of the TCP/IP ports or printers. Device modes are
written in Windows' own layout (220 bytes, then the driver's private bytes)
and descriptors self-relative, as a Windows server keeps them. Nothing comes
from a real machine. Run it from the examples folder.
"""

import struct

PRINT = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print"
LOCAL_PORTS = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports"
MANAGED = (PRINT, LOCAL_PORTS)

LASER = "HP LaserJet 4000 Series PCL"
PLOTTER = "HP DesignJet 500"
OLD_LASER = "HP LaserJet 4"


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


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def value_lines(name, value):
    """A value as (kind, data): "sz", "dword", "multi" or "binary"."""
    kind, data = value
    head = quoted(name) + "="
    if kind == "sz":
        return [head + quoted(data)]
    if kind == "dword":
        return [head + "dword:%08x" % data]
    if kind == "multi":
        raw = b"".join(t.encode("utf-16-le") + b"\0\0" for t in data) + b"\0\0"
        return hexlist(head + "hex(7):", raw)
    return hexlist(head + "hex:", data)


def sz(text):
    return ("sz", text)


def dword(number):
    return ("dword", number)


def key_block(path, values):
    lines = ["[" + path + "]"]
    for name, value in values:
        lines += value_lines(name, value)
    return "\n".join(lines) + "\n"


def tcpip_port(protocol, address, host, number, queue, double_spool, community, snmp, index):
    return [("Protocol", dword(protocol)), ("Version", dword(1)), ("HostName", sz(host)),
            ("IPAddress", sz(address)), ("HWAddress", sz("")), ("PortNumber", dword(number)),
            ("SNMP Community", sz(community)), ("SNMP Enabled", dword(snmp)), ("SNMP Index", dword(index)),
            ("Queue", sz(queue)), ("Double Spool", dword(double_spool))]


def driver(data_file, config, help_file, dependent):
    return [("Configuration File", sz(config)), ("Data File", sz(data_file)), ("Driver", sz("UNIDRV.DLL")),
            ("Help File", sz(help_file)), ("Monitor", sz("")), ("Datatype", sz("RAW")),
            ("Dependent Files", ("multi", dependent)), ("Version", dword(3))]


DRIVERS = {
    LASER: driver("HPBF4000.GPD", "UNIDRVUI.DLL", "UNIDRV.HLP", ["UNIRES.DLL", "HPBF4000.INI", "STDNAMES.GPD"]),
    PLOTTER: driver("HPDJ500.GPD", "UNIDRVUI.DLL", "UNIDRV.HLP", ["UNIRES.DLL", "HPDJ500.INI"]),
    OLD_LASER: driver("HPLJ4.GPD", "UNIDRVUI.DLL", "UNIDRV.HLP", ["UNIRES.DLL"]),
}


# ---- binary values -----------------------------------------------------------

DM_ORIENTATION, DM_PAPERSIZE, DM_COPIES, DM_DEFAULTSOURCE = 0x1, 0x2, 0x100, 0x200
DM_PRINTQUALITY, DM_COLOR, DM_DUPLEX, DM_FORMNAME = 0x400, 0x800, 0x1000, 0x10000


def devmode(device, form, orientation, paper, duplex, private):
    """A DEVMODEW as Windows lays it out: 2-byte characters, 220 bytes, then
    the driver's private bytes."""
    fields = (DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_COLOR
              | DM_DUPLEX | DM_FORMNAME)
    def chars(text):
        return text.encode("utf-16-le").ljust(64, b"\0")
    public = (chars(device)
              + struct.pack("<HHHHI", 0x0401, 0x0600, 220, len(private), fields)
              + struct.pack("<8h", orientation, paper, 0, 0, 100, 1, 7, 600)   # ... copies, source, quality
              + struct.pack("<5h", 1, duplex, 600, 3, 0)                       # color .. collate
              + chars(form)
              + struct.pack("<H13I", 0, *([0] * 13)))
    assert len(public) == 220
    return public + bytes(private)


def sid(text):
    parts = [int(p) for p in text.split("-")[1:]]
    revision, authority, subs = parts[0], parts[1], parts[2:]
    return struct.pack("<BB", revision, len(subs)) + authority.to_bytes(6, "big") + struct.pack("<%dI" % len(subs), *subs)


ALLOWED, DENIED = 0, 1
OBJECT_INHERIT, INHERIT_ONLY = 0x1, 0x8
PRINT_ACCESS, FULL, GENERIC_ALL = 0x00020008, 0x000F000C, 0x10000000
ADMINS, EVERYONE, CREATOR_OWNER = "S-1-5-32-544", "S-1-1-0", "S-1-3-0"
CONTRACTORS = "S-1-5-21-1004336348-1177238915-682003330-1211"
FINANCE = "S-1-5-21-1004336348-1177238915-682003330-1210"


def descriptor(entries):
    """Self-relative, owner Administrators, the entries in the order given;
    laid out as MakeSelfRelativeSD does: header, DACL, owner."""
    aces = b""
    for kind, flags, mask, who in entries:
        body = struct.pack("<I", mask) + sid(who)
        aces += struct.pack("<BBH", kind, flags, 4 + len(body)) + body
    acl = struct.pack("<BBHHH", 2, 0, 8 + len(aces), len(entries), 0) + aces
    owner = sid(ADMINS)
    header = struct.pack("<BBHIIII", 1, 0, 0x8004, 20 + len(acl), 0, 0, 20)
    return header + acl + owner


def binary(data):
    return ("binary", data)


SHARED, LOCAL, QUEUED, DO_COMPLETE_FIRST, PUBLISHED = 0x8, 0x40, 0x1, 0x200, 0x2000


def printer(name, share, port, driver_name, comment, location, sep, attributes, mode, security):
    return [("Name", sz(name)), ("Share Name", sz(share)), ("Port", sz(port)), ("Printer Driver", sz(driver_name)),
            ("Description", sz(comment)), ("Location", sz(location)), ("Separator File", sz(sep)),
            ("Print Processor", sz("winprint")), ("Datatype", sz("RAW")), ("Parameters", sz("")),
            ("Attributes", dword(attributes)), ("Priority", dword(1)), ("Default Priority", dword(0)),
            ("StartTime", dword(0)), ("UntilTime", dword(0)), ("Status", dword(0)),
            ("Default DevMode", binary(mode)), ("Security", binary(security))]


def printers():
    base = PRINT + "\\Printers\\"
    laser_private = bytes(range(0x40, 0x60))  # the driver's own settings, opaque to everyone else
    return [
        key_block(base + "DESIGN01", printer(
            "DESIGN01", "", "IP_10.0.0.6", PLOTTER, "Plotter for drawings", "Building A, floor 3", "",
            LOCAL | QUEUED, devmode("DESIGN01", "A3", 1, 8, 1, b""),
            descriptor([(ALLOWED, 0, FULL, ADMINS), (ALLOWED, 0, PRINT_ACCESS, FINANCE)]))),
        key_block(base + "DESIGN01\\PrinterDriverData", [("Pens", dword(8))]),
        key_block(base + "LASER01", printer(
            "LASER01", "LASER01", "IP_10.0.0.5", LASER, "Front office laser", "Building A, floor 2",
            "C:\\WINDOWS\\System32\\sysprint.sep", SHARED | LOCAL | DO_COMPLETE_FIRST | PUBLISHED,
            devmode("HP LaserJet 4000 Series PCL", "Letter", 2, 1, 2, laser_private),
            descriptor([(DENIED, 0, PRINT_ACCESS, CONTRACTORS), (ALLOWED, 0, FULL, ADMINS),
                        (ALLOWED, OBJECT_INHERIT | INHERIT_ONLY, GENERIC_ALL, CREATOR_OWNER),
                        (ALLOWED, 0, PRINT_ACCESS, EVERYONE)]))),
        key_block(base + "LASER01\\PrinterDriverData",
                  [("Model", sz("HP LaserJet 4000")), ("FreeMem", dword(8192))]),
        key_block(base + "LASER01\\PrinterDriverData\\InstalledOptions",
                  [("Tray3", dword(1)), ("Duplex Unit", dword(1))]),
        key_block(base + "LASER02", printer(
            "LASER02", "LASER02", "LPT1:", OLD_LASER, "Old laser at the reception", "Building A, floor 1", "",
            SHARED | LOCAL | PUBLISHED, devmode("HP LaserJet 4", "A4", 1, 9, 1, b"\x01\x00\x02\x00"),
            descriptor([(ALLOWED, 0, FULL, ADMINS), (ALLOWED, 0, PRINT_ACCESS, EVERYONE)]))),
        key_block(base + "LASER02\\PrinterDriverData", [("Model", sz("HP LaserJet 4"))]),
    ]


def print_server(fresh):
    env = PRINT + "\\Environments\\Windows NT x86"
    blocks = [
        key_block(PRINT + "\\Monitors\\Local Port", [("Driver", sz("localspl.dll"))]),
        key_block(PRINT + "\\Monitors\\Standard TCP/IP Port", [("Driver", sz("tcpmon.dll"))]),
        key_block(PRINT + "\\Monitors\\Standard TCP/IP Port\\Ports", []),
    ]
    if not fresh:
        blocks += [
            key_block(PRINT + "\\Monitors\\Standard TCP/IP Port\\Ports\\IP_10.0.0.5",
                      tcpip_port(1, "10.0.0.5", "laser01.corp.example", 9100, "", 0, "corp-ro", 1, 1)),
            key_block(PRINT + "\\Monitors\\Standard TCP/IP Port\\Ports\\IP_10.0.0.6",
                      tcpip_port(2, "10.0.0.6", "", 515, "PLOTQ", 1, "public", 0, 1)),
        ]
    blocks.append(key_block(env + "\\Print Processors\\winprint", [("Driver", sz("WINPRINT.DLL"))]))
    for name in (LASER, PLOTTER) if fresh else (LASER, PLOTTER, OLD_LASER):
        blocks.append(key_block(env + "\\Drivers\\Version-3\\" + name, DRIVERS[name]))
    blocks.append(key_block(LOCAL_PORTS, [("COM1:", sz("9600,n,8,1")), ("LPT1:", sz("")), ("FILE:", sz(""))]))
    if not fresh:
        blocks += printers()
    return blocks


def rewrite(path, blocks):
    """Keeps the file's other keys, drops the managed ones, appends the new."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    header, _, rest = text.partition("\n\n")
    kept = []
    for block in rest.split("\n\n"):
        block = block.strip("\n")
        if not block:
            continue
        key = block.split("\n", 1)[0].strip("[]")
        if not key.startswith(MANAGED):
            kept.append(block + "\n")
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(header + "\n\n" + "\n".join(kept + blocks))


if __name__ == "__main__":
    rewrite("world/SRV01/HKLM.reg", print_server(fresh=False))
    rewrite("fresh-SRV01.reg", print_server(fresh=True))
