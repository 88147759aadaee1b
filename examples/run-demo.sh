#!/usr/bin/env bash
# Backs up the demo server SRV01, replaces it with a fresh SRV01 (same name,
# drives and accounts; no shares, no TCP/IP printer ports), and restores the
# shares and ports onto it. Works on a throw-away copy of the demo world,
# never on examples/world.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corvan=${CORVAN:-$here/../build/corvan}
demo=$(mktemp -d "${TMPDIR:-/tmp}/corvan-demo.XXXXXX")
cp -r "$here/world" "$demo/world"
cp "$here/ControlBackup.ini" "$demo/"
export CORVAN_WORLD="$demo/world"
drive_d="$CORVAN_WORLD/SRV01/drives/D"
cd "$demo"

shares() {
  awk '/^\[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares\]/{on=1; next}
       /^\[/{on=0} on && /^"/{sub(/=.*/, ""); gsub(/"/, ""); printf "  %s\n", $0}' "$CORVAN_WORLD/SRV01/HKLM.reg"
}

# The printer ports: local ports, then each TCP/IP port with its address and port number.
ports() {
  awk 'function hex(t,  i, n) { n = 0; for (i = 1; i <= length(t); i++) n = n * 16 + index("0123456789abcdef", substr(t, i, 1)) - 1; return n }
       /^\[/{key=$0}
       key ~ /CurrentVersion\\Ports\]$/ && /^"/{sub(/"=.*/, ""); sub(/^"/, ""); printf "  %s (local)\n", $0}
       key ~ /Standard TCP\/IP Port\\Ports\\/ && /^"IPAddress"/{split($0, a, "\""); ip=a[4]}
       key ~ /Standard TCP\/IP Port\\Ports\\/ && /^"PortNumber"/{n=key; sub(/.*\\/, "", n); sub(/\]$/, "", n);
                                                       printf "  %s -> %s:%d\n", n, ip, hex(substr($0, index($0, ":") + 1))}' \
    "$CORVAN_WORLD/SRV01/HKLM.reg"
}

echo "== shares of SRV01 before the backup:"; shares
echo "== printer ports of SRV01 before the backup:"; ports
echo
echo "== corvan /B /C:ControlBackup.ini /S:SRV01"
"$corvan" /B /C:ControlBackup.ini /S:SRV01 || echo "(exit code $?)"
echo
echo "== the migration folder on SRV01 (D:\\Migration):"
(cd "$drive_d/Migration" && find . -type f | sort | sed 's/^/  /')
echo
echo "== outcome of the backup (D:\\Migration\\ControlRestore.ini):"
grep -E '^(Backup(Status|LastError|ErrorText)|SHARE|PORT)=' "$drive_d/Migration/ControlRestore.ini" | sed 's/^/  /'

echo
echo "== SRV01 is replaced by a fresh server: same name, drives and accounts, no shares, no TCP/IP ports"
cp "$here/fresh-SRV01.reg" "$CORVAN_WORLD/SRV01/HKLM.reg"
echo "== shares of the fresh SRV01:"; shares
echo "== printer ports of the fresh SRV01:"; ports
echo
echo "== corvan /R /C:D:\\Migration\\ControlRestore.ini /S:SRV01"
"$corvan" /R '/C:D:\Migration\ControlRestore.ini' /S:SRV01 || echo "(exit code $?)"
echo
echo "== shares of SRV01 after the restore:"; shares
echo "== printer ports of SRV01 after the restore:"; ports
echo
echo "== outcome of the restore:"
grep -E '^(Restore(Status|LastError|ErrorText)|SHARE|PORT)=' "$drive_d/Migration/ControlRestore.ini" | sed 's/^/  /'
echo
echo "== status report (D:\\Migration\\Log\\SRV01\\SRV01_StatusReport.log):"
sed 's/^/  /' "$drive_d/Migration/Log/SRV01/SRV01_StatusReport.log"
echo
echo "The demo world and the logs (CorvanTrace.log, CorvanError.log, CorvanReport.log) stay in $demo"
