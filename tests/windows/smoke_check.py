#!/usr/bin/env python3
"""Reads what the Wine smoke test needs from the tool's files.

  smoke_check.py value FILE SECTION KEY      the value (unquoted) of the first match, or <missing>
  smoke_check.py registry BACKUP EXPORT      compares a registry backup with `reg export` of the same tree
"""
import sys


def text_of(path):
    data = open(path, "rb").read()
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8")
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    return data.decode("latin-1")


def entries(path):
    """(section, key, value) of a store file, in order."""
    section = ""
    for raw in text_of(path).split("\n"):
        line = raw.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1]
            continue
        key, _, value = line.partition("=")
        yield section, key, value


def unquote(value):
    return value[1:-1] if len(value) >= 2 and value[0] == value[-1] == '"' else value


def utf16(text):
    return text.encode("utf-16-le")


def from_backup(path):
    """{(key path, value name): (type, bytes)} and the key paths of a backup file."""
    sections = {}
    for section, key, value in entries(path):
        sections.setdefault(section, {}).setdefault(key, value)
    keys, values = {}, {}
    for number, fields in sections.items():
        cls = fields.get("class")
        if cls == "CCompositeRegKey":
            parent = unquote(fields.get("ParentKeyName", '""'))
            keys[number] = parent + "\\" + unquote(fields["KeyName"])
    for number, fields in sections.items():
        cls = fields.get("class", "")
        if not cls.startswith("CRegValue"):
            continue
        where = keys[fields["parent"]].lower()
        name = unquote(fields.get("ValueName", '""'))
        raw = fields.get("Value", "")
        if cls in ("CRegValueString", "CRegValueExpandSz"):
            data = (1 if cls == "CRegValueString" else 2, utf16(unquote(raw) + "\0"))
        elif cls == "CRegValueDword":
            data = (4, int(raw.split("dword:")[1], 16).to_bytes(4, "little"))
        elif cls == "CRegValueBinary":
            data = (3, bytes.fromhex(raw.split("hex:")[1]))
        elif cls == "CRegValueMultiSz":
            items = fields.get("saValue", "")
            texts = items[1:-1].split('","') if items not in ('', '""') else []
            data = (7, utf16("".join(t + "\0" for t in texts) + "\0"))
        else:
            data = (int(fields["Type"].split("dword:")[1], 16), bytes.fromhex(raw.split("hex:")[1]))
        values[(where, name.lower())] = data
    return {k.lower() for k in keys.values()}, values


def from_export(path):
    """The same of a .reg export (paths below HKEY_LOCAL_MACHINE)."""
    lines, pending = [], ""
    for raw in text_of(path).splitlines():
        line = pending + raw.strip()
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
            continue
        pending = ""
        lines.append(line)
    keys, values, key = set(), {}, None
    for line in lines:
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1].split("\\", 1)[1].lower()
            keys.add(key)
            continue
        if key is None or "=" not in line:
            continue
        if line.startswith("@="):
            name, data = "", line[2:]
        else:
            end = 1
            while line[end] != '"':
                end += 2 if line[end] == "\\" else 1
            name = line[1:end].replace('\\"', '"').replace("\\\\", "\\")
            data = line[end + 2:]
        if data.startswith('"'):
            text = data[1:-1].replace('\\"', '"').replace("\\\\", "\\")
            value = (1, utf16(text + "\0"))
        elif data.startswith("dword:"):
            value = (4, int(data[6:], 16).to_bytes(4, "little"))
        elif data.startswith("hex:"):
            value = (3, bytes.fromhex(data[4:].replace(",", "")))
        else:
            kind, digits = data[4:].split("):", 1)
            value = (int(kind, 16), bytes.fromhex(digits.replace(",", "")))
        values[(key, name.lower())] = value
    return keys, values


def main(argv):
    if argv[1] == "value":
        for section, key, value in entries(argv[2]):
            if section.lower() == argv[3].lower() and key.lower() == argv[4].lower():
                print(unquote(value))
                return 0
        print("<missing>")
        return 0
    backup_keys, backup = from_backup(argv[2])
    export_keys, export = from_export(argv[3])
    bad = 0
    for key in sorted(export_keys ^ backup_keys):
        print("key only in %s: %s" % ("the export" if key in export_keys else "the backup", key))
        bad += 1
    for where in sorted(set(export) | set(backup)):
        if export.get(where) != backup.get(where):
            print("value %s\\%s: export %r, backup %r" % (where[0], where[1], export.get(where), backup.get(where)))
            bad += 1
    print("%d keys and %d values compared, %d differ" % (len(export_keys), len(export), bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
