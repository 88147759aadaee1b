#!/usr/bin/env bash
# Runs corvan on a throw-away copy of the demo world, never on examples/world.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corvan=${CORVAN:-$here/../build/corvan}
demo=$(mktemp -d "${TMPDIR:-/tmp}/corvan-demo.XXXXXX")
cp -r "$here/world" "$demo/world"
cp "$here/ControlBackup.ini" "$demo/"
export CORVAN_WORLD="$demo/world"
cd "$demo"

echo "== corvan /B /C:ControlBackup.ini /S:SRV01   (world: $CORVAN_WORLD)"
set +e
"$corvan" /B /C:ControlBackup.ini /S:SRV01
status=$?
set -e
echo
echo "== exit code: $status"
echo "== migration folder on SRV01 (D:\\Migration):"
(cd "$CORVAN_WORLD/SRV01/drives/D/Migration" && find . | sort)
echo
echo "== outcome keys of the saved restore control file:"
grep -E '^(Backup|Restore)[A-Za-z]*=' "$CORVAN_WORLD/SRV01/drives/D/Migration/ControlRestore.ini" || true
echo
echo "== log files in $demo:"
ls -1 "$demo"/*.log 2>/dev/null || echo "(none)"
echo
echo "The demo world stays in $demo"
