#!/usr/bin/env python3
"""Writes the print server of the demo into the registry files of examples/:
world/SRV01/HKLM.reg (the server to migrate) and fresh-SRV01.reg (the server
that replaces it). Every key below Control\\Print and CurrentVersion\\Ports is
written here; the other keys of those files are kept as they are.

SRV01 has the Local Port and Standard TCP/IP Port monitors, the local ports
COM1:, LPT1: and FILE:, two TCP/IP ports (IP_10.0.0.5, RAW on 9100 with SNMP;
IP_10.0.0.6, LPR with a queue name and double spool), the winprint
processor and three drivers. The fresh server has the monitors, the local
ports, the processor and two of the drivers, and none of the TCP/IP ports.
Nothing comes from a real machine. Run it from the examples folder.
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
