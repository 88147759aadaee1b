#!/usr/bin/env bash
# The Windows build run under Wine, in a fresh prefix, against Wine's own
# registry, service manager and file system: command-line messages and exit
# codes, a registry backup checked value by value against `reg export`,
# services made with `sc create`, shares where there is no share service,
# control files with byte-order marks, log files, run folders and console
# text; then the conformance tests.
#
#   tests/windows/smoke.sh [build folder of the Windows build]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build-windows}" && pwd)
exe="$build/corvan.exe"
conformance="$build/corvan_conformance.exe"
check_py="$here/smoke_check.py"

export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/corvan-wine.XXXXXX)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8 LC_ALL=C.UTF-8
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$WINEPREFIX"' EXIT
wineboot -i >/dev/null 2>&1
wineserver -w

work="$WINEPREFIX/drive_c/smoke"   # C:\smoke
mkdir -p "$work"
failures=0
pass() { echo "ok   $1"; }
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
expect() {  # description, then a test command
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
# corvan.exe in C:\smoke (or $cwd) with the arguments: $rc, $work/out.txt, $work/err.txt.
corvan() {
    (cd "${cwd:-$work}" && timeout 60 wine "$exe" "$@" >"$work/out.txt" 2>"$work/err.txt")
    rc=$?
}
registry_value() {  # key, value name: the data as reg query prints it
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v name="$2" '$1 == name {print $3}'
}
value() { python3 "$check_py" value "$@"; }
contains() { grep -qF -- "$2" "$1"; }
# Writes a control file from its lines, CR LF.
control() {
    local file=$1
    shift
    printf '%s\r\n' "$@" >"$work/$file"
}

echo "== command line"
corvan
expect "no arguments: usage, exit code 1" test "$rc" = 1 -a -n "$(grep -F 'Usage:' "$work/out.txt")"
corvan /X
expect "unknown switch refused" test "$rc" = 1 -a -n "$(grep -F 'Parameter unknown - /X' "$work/out.txt")"
corvan /B '/L:C:\nologs'
expect "missing log path refused" contains "$work/out.txt" 'Input argument for Log Path C:\nologs is incorrect.'
corvan /B '/C:missing.ini'
expect "missing control file refused" contains "$work/out.txt" 'Control file Path "missing.ini" is incorrect.'
control empty.ini '[Control]'
corvan /B '/C:empty.ini' '/S:NOSUCHHOST'
expect "unknown machine refused" test "$rc" = 1 -a -n "$(grep -F 'Machine name "NOSUCHHOST" is incorrect.' "$work/out.txt")"
# Redirected, the console text comes in the console's code page; without a
# console, in the OEM code page a console would have.
codepage=$(registry_value 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' OEMCP)
corvan '/Grüße'
expected=$(printf '\r\nParameter unknown - /Grüße ' | iconv -f UTF-8 -t "CP$codepage" | od -An -tx1)
expect "console text in code page $codepage" test "$(od -An -tx1 <"$work/out.txt")" = "$expected"

echo "== registry backup against reg export"
key='HKLM\SOFTWARE\CorvanSmoke'
# Wine's reg.exe now and then fails a write in a fresh prefix: the setting
# up is tried three times before it counts as a failure.
reg() {
    local try
    for try in 1 2 3; do
        wine reg add "$@" /f >/dev/null 2>"$work/reg.err" && return 0
        wineserver -w
    done
    fail "reg add $* ($(tr -d '\r' <"$work/reg.err" | head -c 200))"
}
reg "$key" /ve /d 'default value'
reg "$key" /v Text /t REG_SZ /d 'plain "quoted" text'
reg "$key" /v Expand /t REG_EXPAND_SZ /d '%SystemRoot%\x'
reg "$key" /v Number /t REG_DWORD /d 42
reg "$key" /v Bytes /t REG_BINARY /d 0001ff7f
reg "$key" /v List /t REG_MULTI_SZ /d 'one\0two words'
reg "$key" /v Quad /t REG_QWORD /d 0x1122334455667788
reg "$key" /v 'Grüße Ωmega' /t REG_SZ /d 'Отчёт € 😀'
reg "$key" /v Nothing /t REG_NONE
reg "$key\\Nested\\Deeper" /v Level /t REG_DWORD /d 3
reg "$key\\Empty"
control registry.ini '[Control]' 'DefaultMigLocation=C:\smoke\mig' 'DefaultDataLocation=C:\smoke\mig\data' \
    '[BACKUP]' "REGISTRY=$key,smoke.bkp" 'SHARE=ALL'
corvan /B '/C:registry.ini'
expect "backup run: exit code 0" test "$rc" = 0
backup=$(find "$work/mig/data" -name smoke.bkp | head -n 1)
wine reg export "$key" 'C:\smoke\export.reg' /y >/dev/null 2>&1
if [ -n "$backup" ] && python3 "$check_py" registry "$backup" "$work/export.reg"; then
    pass "every key and value as reg export has it"
else
    fail "registry backup differs from reg export"
fi
restore="$work/mig/ControlRestore.ini"
expect "no registry error" test "$(value "$restore" BACKUPERROR REGISTRY)" = "<missing>"
# Wine has no share service: the share step fails on its own, the rest completes.
expect "shares fail with an error entry" test "$(value "$restore" BACKUPERROR SHARE)" != "<missing>"
expect "the run reports the error" test "$(value "$restore" Control BackupStatus)" = error

echo "== services"
wine sc create CorvanSmokeSvc binPath= "\"$(winepath -w "$conformance")\" --serve CorvanSmokeSvc" start= demand \
    >/dev/null 2>&1 || fail "sc create"
service_state() { wine sc query CorvanSmokeSvc 2>/dev/null | tr -d '\r' | awk '/STATE/ {print $4}'; }
start_type() { registry_value 'HKLM\System\CurrentControlSet\Services\CorvanSmokeSvc' Start; }
control service.ini '[Control]' 'DefaultMigLocation=C:\smoke\svc' '[BACKUP]' 'SERVICE=CorvanSmokeSvc,Start,Automatic'
corvan /B '/C:service.ini'
expect "service started" test "$(service_state)" = RUNNING
expect "start type automatic" test "$(start_type)" = 0x2
expect "service step succeeded" test "$(value "$work/svc/ControlRestore.ini" Control BackupStatus)" = success
control service.ini '[Control]' 'DefaultMigLocation=C:\smoke\svc' '[BACKUP]' 'SERVICE=CorvanSmokeSvc,Stop,Disable' \
    'SERVICE=NoSuchSmokeSvc,Stop'
corvan /B '/C:service.ini'
expect "service stopped" test "$(service_state)" = STOPPED
expect "start type disabled" test "$(start_type)" = 0x4
expect "a missing service is error 1060" test "$(value "$work/svc/ControlRestore.ini" Control BackupLastError)" = 1060

echo "== control files with byte-order marks"
printf '\xef\xbb\xbf[Control]\r\nDefaultMigLocation=C:\\smoke\\bom8\r\nDefaultDataLocation=C:\\smoke\\bom8\\Данные\r\n' \
    >"$work/utf8.ini"
printf '\xff\xfe' >"$work/utf16.ini"
printf '[Control]\r\nDefaultMigLocation=C:\\smoke\\bom16\r\nDefaultDataLocation=C:\\smoke\\bom16\\Данные\r\n' |
    iconv -f UTF-8 -t UTF-16LE >>"$work/utf16.ini"
for kind in utf8 utf16; do
    corvan /B "/C:$kind.ini"
    folder="$work/bom${kind#utf}"
    expect "$kind control file: its locations are used" test -f "$folder/ControlRestore.ini"
    expect "$kind control file: texts beyond Latin-1 kept" test -d "$folder/Данные"
done

echo "== log files and run folders"
mkdir -p "$work/logs/CorvanTrace.log"   # a folder where the trace log should be
control logs.ini '[Control]' 'DefaultMigLocation=C:\smoke\logrun'
mkdir -p "$work/logcwd"
cwd="$work/logcwd" corvan /B '/C:C:\smoke\logs.ini' '/L:C:\smoke\logs'
expect "a log that cannot be opened does not stop the run" test "$rc" = 0 -a -f "$work/logrun/ControlRestore.ini"
expect "the failure is reported once" test "$(grep -c 'Cannot open file' "$work/err.txt")" = 1
expect "and in the error log" contains "$work/logs/CorvanError.log" 'Cannot open file'
expect "no log files in the working directory" test -z "$(ls "$work/logcwd")"
control twice.ini '[Control]' 'DefaultMigLocation=C:\smoke\twice' 'DefaultDataLocation=C:\smoke\twice'
for run in 1 2; do
    (cd "$work" && timeout 60 wine "$exe" /B '/C:twice.ini' >"$work/twice$run.txt" 2>&1; printf "\nexit code %s\n" $? >>"$work/twice$run.txt") &
done
wait
folders=$(find "$work/twice" -mindepth 2 -maxdepth 2 -type d -name '[0-9]*' | wc -l)  # twice\<machine>\<stamp>
before=$failures
expect "two runs at once get two run folders" test "$folders" = 2
expect "and both succeed" test "$(cat "$work/twice1.txt" "$work/twice2.txt" | grep -cx 'exit code 0')" = 2
if [ "$failures" != "$before" ]; then cat "$work/twice1.txt" "$work/twice2.txt"; fi

echo "== conformance tests"
wine "$conformance" >"$work/conformance.txt" 2>&1
conformance_rc=$?
grep -F '[ WINE     ]' "$work/conformance.txt" | sort -u
grep -E '^\[  (FAILED|PASSED)  \]' "$work/conformance.txt"
total=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran.*/\1/p' "$work/conformance.txt")
if [ "$conformance_rc" = 0 ] && [ -n "$total" ]; then
    pass "conformance tests under Wine: $total passed"
else
    fail "conformance tests under Wine"
    grep -B2 -A12 'Failure' "$work/conformance.txt" | head -n 80
fi

if [ "$failures" -gt 0 ]; then
    echo "Wine smoke test: $failures check(s) failed"
    exit 1
fi
echo "Wine smoke test: OK"
