#!/usr/bin/env bash
# Backs up the demo server SRV01, replaces it with a fresh SRV01 (same name,
# drives and accounts; no shares, no TCP/IP printer ports, no printers, one
# driver fewer, and no D:\Data), and restores the shares, ports, printers and
# the data folder onto it, with SupportedDrivers.txt beside the restore
# control file. Then a second server SRV02 joins: a preview (/P) of restoring
# the same backup onto it, which changes nothing, and the restore onto it
# (/T:SRV02). Works on a throw-away copy of the demo world, never on
# examples/world.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corvan=${CORVAN:-$here/../build/corvan}
demo=$(mktemp -d "${TMPDIR:-/tmp}/corvan-demo.XXXXXX")
cp -r "$here/world" "$demo/world"
cp "$here/ControlBackup.ini" "$demo/"
export CORVAN_WORLD="$demo/world"
drive_d="$CORVAN_WORLD/SRV01/drives/D"
# What git cannot keep: an empty folder, attributes, times and permissions.
python3 "$here/data_folder.py" prepare "$drive_d"
cd "$demo"

shares() {
  awk '/^\[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares\]/{on=1; next}
       /^\[/{on=0} on && /^"/{sub(/=.*/, ""); gsub(/"/, ""); printf "  %s\n", $0}' "$CORVAN_WORLD/${1:-SRV01}/HKLM.reg"
}

# The printer ports: local ports, then each TCP/IP port with its address and port number.
ports() {
  awk 'function hex(t,  i, n) { n = 0; for (i = 1; i <= length(t); i++) n = n * 16 + index("0123456789abcdef", substr(t, i, 1)) - 1; return n }
       /^\[/{key=$0}
       key ~ /CurrentVersion\\Ports\]$/ && /^"/{sub(/"=.*/, ""); sub(/^"/, ""); printf "  %s (local)\n", $0}
       key ~ /Standard TCP\/IP Port\\Ports\\/ && /^"IPAddress"/{split($0, a, "\""); ip=a[4]}
       key ~ /Standard TCP\/IP Port\\Ports\\/ && /^"PortNumber"/{n=key; sub(/.*\\/, "", n); sub(/\]$/, "", n);
                                                       printf "  %s -> %s:%d\n", n, ip, hex(substr($0, index($0, ":") + 1))}' \
    "$CORVAN_WORLD/${1:-SRV01}/HKLM.reg"
}

# Each printer queue: its port, driver and share, and whether it keeps a
# device mode and permissions.
printers() {
  awk '/^\[/{key=$0; on = key ~ /Control\\Print\\Printers\\[^\\]*\]$/; if (on) {n=key; sub(/.*\\/, "", n); sub(/\]$/, "", n)}}
       on && /^"Port"=/{split($0, a, "\""); port=a[4]}
       on && /^"Printer Driver"=/{split($0, a, "\""); driver=a[4]}
       on && /^"Share Name"=/{split($0, a, "\""); share=a[4]}
       on && /^"Default DevMode"=/{mode="device mode"}
       on && /^"Security"=/{printf "  %s on %s, driver %s, %s, %s, permissions\n", n, port, driver,
                                   share == "" ? "not shared" : "shared as " share, mode; mode="no device mode"}' \
    "$CORVAN_WORLD/${1:-SRV01}/HKLM.reg"
}

# The text of one value of a printer, continuation lines included.
printer_value() {
  awk -v key="Printers\\$2]" -v name="\"$3\"=" '/^\[/{on = index($0, key) > 0; v = 0; next}
       on && index($0, name) == 1 {v = 1} on && v {print; if ($0 !~ /\\$/) v = 0}' "$1"
}

echo "== shares of SRV01 before the backup:"; shares
echo "== printer ports of SRV01 before the backup:"; ports
echo "== printers of SRV01 before the backup:"; printers
echo "== the data folder D:\\Data of SRV01 before the backup:"
python3 "$here/data_folder.py" show "$drive_d" | tee "$demo/data-before.txt"
echo
echo "== corvan /B /C:ControlBackup.ini /S:SRV01"
"$corvan" /B /C:ControlBackup.ini /S:SRV01 || echo "(exit code $?)"
echo
echo "== the migration folder on SRV01 (D:\\Migration):"
(cd "$drive_d/Migration" && find . -type f | sort | sed 's/^/  /')
echo
echo "== outcome of the backup (D:\\Migration\\ControlRestore.ini):"
grep -E '^(Backup(Status|LastError|ErrorText)|SHARE|PORT|PRINTER|DIRECTORY)=' "$drive_d/Migration/ControlRestore.ini" | sed 's/^/  /'

echo
echo "== SRV01 is replaced by a fresh server: same name, drives and accounts;"
echo "   no shares, no TCP/IP ports, no printers, no driver \"HP LaserJet 4\" and no D:\\Data"
cp "$CORVAN_WORLD/SRV01/HKLM.reg" "$demo/old-SRV01.reg"
cp "$here/fresh-SRV01.reg" "$CORVAN_WORLD/SRV01/HKLM.reg"
rm -rf "$drive_d/Data"
echo "== shares of the fresh SRV01:"; shares
echo "== printer ports of the fresh SRV01:"; ports
echo "== printers of the fresh SRV01:"; printers
echo "== SupportedDrivers.txt beside the restore control file (D:\\Migration):"
cp "$here/SupportedDrivers.txt" "$drive_d/Migration/"
sed 's/^/  /' "$drive_d/Migration/SupportedDrivers.txt"
echo
echo "== corvan /R /C:D:\\Migration\\ControlRestore.ini /S:SRV01"
"$corvan" /R '/C:D:\Migration\ControlRestore.ini' /S:SRV01 || echo "(exit code $?)"
echo
echo "== shares of SRV01 after the restore:"; shares
echo "== printer ports of SRV01 after the restore:"; ports
echo "== printers of SRV01 after the restore:"; printers
for p in DESIGN01 LASER01 LASER02; do
  for v in "Default DevMode" Security Attributes; do
    same=no
    [ "$(printer_value "$demo/old-SRV01.reg" $p "$v")" = "$(printer_value "$CORVAN_WORLD/SRV01/HKLM.reg" $p "$v")" ] && same=yes
    echo "  $p: $v as on the old server: $same"
  done
done
echo "== the data folder D:\\Data of SRV01 after the restore:"
python3 "$here/data_folder.py" show "$drive_d" | tee "$demo/data-after.txt"
if cmp -s "$demo/data-before.txt" "$demo/data-after.txt"; then
  echo "  names, sizes, attributes, times and permissions as before the backup: yes"
else
  echo "  names, sizes, attributes, times and permissions as before the backup: NO"
  diff "$demo/data-before.txt" "$demo/data-after.txt" | sed 's/^/  /'
fi
echo
echo "== outcome of the restore:"
grep -E '^(Restore(Status|LastError|ErrorText)|SHARE|PORT|PRINTER|DIRECTORY)=' "$drive_d/Migration/ControlRestore.ini" | sed 's/^/  /'
echo
echo "== status report (D:\\Migration\\Log\\SRV01\\SRV01_StatusReport.log):"
sed 's/^/  /' "$drive_d/Migration/Log/SRV01/SRV01_StatusReport.log"

echo
echo "== a second server SRV02 joins: the drives, drivers and local account names of the"
echo "   fresh server (its accounts with SIDs of its own); no shares, TCP/IP ports, printers or D:\\Data"
mkdir -p "$CORVAN_WORLD/SRV02/drives/D"
cp "$here/fresh-SRV01.reg" "$CORVAN_WORLD/SRV02/HKLM.reg"
sed 's/3623811015-3361044348-30300820/3623811015-3361044348-40400820/' "$here/world/SRV01/machine.ini" \
  > "$CORVAN_WORLD/SRV02/machine.ini"
cp -r "$here/world/SRV01/drives/C" "$CORVAN_WORLD/SRV02/drives/"
cp -r "$here/world/SRV01/drives/D/kitbox" "$CORVAN_WORLD/SRV02/drives/D/"
# Every name and every file's bytes of SRV02, its registry included.
srv02_state() { (cd "$CORVAN_WORLD/SRV02" && find . | sort && find . -type f -exec md5sum {} + | sort); }
srv02_state > "$demo/SRV02-before.txt"
echo
echo "== corvan /R /C:D:\\Migration\\ControlRestore.ini /S:SRV01 /T:SRV02 /P   (a preview: one line per object)"
"$corvan" /R '/C:D:\Migration\ControlRestore.ini' /S:SRV01 /T:SRV02 /P || echo "(exit code $?)"
echo
same=no; srv02_state | cmp -s "$demo/SRV02-before.txt" - && same=yes
echo "== SRV02 unchanged by the preview: $same"
echo
echo "== corvan /R /C:D:\\Migration\\ControlRestore.ini /S:SRV01 /T:SRV02"
"$corvan" /R '/C:D:\Migration\ControlRestore.ini' /S:SRV01 /T:SRV02 || echo "(exit code $?)"
echo
echo "== shares of SRV02 after the restore:"; shares SRV02
echo "== printer ports of SRV02 after the restore:"; ports SRV02
echo "== printers of SRV02 after the restore:"; printers SRV02
echo "== the data folder D:\\Data of SRV02 after the restore (local accounts with SRV02's SIDs):"
python3 "$here/data_folder.py" show "$CORVAN_WORLD/SRV02/drives/D"
echo
echo "== outcome of the restore onto SRV02:"
grep -E '^Restore(TargetMachine|Status|LastError|ErrorText)=' "$drive_d/Migration/ControlRestore.ini" | sed 's/^/  /'

echo
echo "The demo world and the logs (CorvanTrace.log, CorvanError.log, CorvanReport.log) stay in $demo"
