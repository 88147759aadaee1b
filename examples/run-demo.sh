#!/usr/bin/env bash
# Backs up the demo server SRV01, replaces it with a fresh SRV01 (same name,
# drives and accounts; no shares), and restores the shares onto it. Works on
# a throw-away copy of the demo world, never on examples/world.
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

echo "== shares of SRV01 before the backup:"; shares
echo
echo "== corvan /B /C:ControlBackup.ini /S:SRV01"
"$corvan" /B /C:ControlBackup.ini /S:SRV01 || echo "(exit code $?)"
echo
echo "== the migration folder on SRV01 (D:\\Migration):"
(cd "$drive_d/Migration" && find . -type f | sort | sed 's/^/  /')
echo
echo "== outcome of the backup (D:\\Migration\\ControlRestore.ini):"
grep -E '^(Backup(Status|LastError|ErrorText)|SHARE)=' "$drive_d/Migration/ControlRestore.ini" | sed 's/^/  /'

echo
echo "== SRV01 is replaced by a fresh server: same name, drives and accounts, no shares"
cp "$here/fresh-SRV01.reg" "$CORVAN_WORLD/SRV01/HKLM.reg"
echo "== shares of the fresh SRV01:"; shares
echo
echo "== corvan /R /C:D:\\Migration\\ControlRestore.ini /S:SRV01"
"$corvan" /R '/C:D:\Migration\ControlRestore.ini' /S:SRV01 || echo "(exit code $?)"
echo
echo "== shares of SRV01 after the restore:"; shares
echo
echo "== outcome of the restore:"
grep -E '^(Restore(Status|LastError|ErrorText)|SHARE)=' "$drive_d/Migration/ControlRestore.ini" | sed 's/^/  /'
echo
echo "== status report (D:\\Migration\\Log\\SRV01\\SRV01_StatusReport.log):"
sed 's/^/  /' "$drive_d/Migration/Log/SRV01/SRV01_StatusReport.log"
echo
echo "The demo world and the logs (CorvanTrace.log, CorvanError.log, CorvanReport.log) stay in $demo"
