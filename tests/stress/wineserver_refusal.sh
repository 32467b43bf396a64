#!/usr/bin/env bash
# A real wineserver running for the prefix: the native run and the accessor
# writers are refused with the way out, and after the server has exited (and
# saved its own registry) the file is exactly as it was. Then a run succeeds.
# Usage: wineserver_refusal.sh <Skelvin_Patch_eng> <concurrent_writer> <hive_check> <test data dir>
set -u
program=$1 writer=$2 check=$3 data=$4
source "$(dirname "$0")/../support/wine_host.sh"
source "$(dirname "$0")/../support/wineserver.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-wineserver-XXXXXX")
prefix=$work/prefix
export WINEDEBUG=-all
unset DISPLAY
cleanup() {
  ws_stop "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
# The sample 64-bit file has no Software\Wow6432Node: nothing is redirected.
section='Software\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'
base=$data/wine64_system.reg

mkdir -p "$prefix"
cp "$base" "$prefix/system.reg"
# A file wineserver has written itself: start from what it saves.
ws_start "$prefix" && ws_stop "$prefix" || fail "wineserver did not load and save the sample"
cp -p "$prefix/system.reg" "$work/before"

ws_start "$prefix" || fail "wineserver did not start"

WINEPREFIX=$prefix timeout 60 "$program" <&- >"$work/out" 2>"$work/err"
status=$?
[ "$status" = 1 ] && pass "patch run: exit 1" || fail "patch run: exit $status"
grep -qE 'a wineserver \(pid ([0-9]+)\) is running for this prefix.*stop it with `kill -INT \1`' "$work/err" &&
  pass "patch run: cause and way out reported" || fail "patch run: stderr was: $(cat "$work/err")"
grep -qF "Run-time error '26001':" "$work/err" || fail "patch run: no 26001 report"
server=$(grep -oE 'pid [0-9]+' "$work/err" | head -n 1 | grep -oE '[0-9]+')
[ -n "$server" ] && [[ $(ps -p "$server" -o comm= 2>/dev/null) == wineserver* ]] && pass "the pid named is the wineserver" ||
  fail "the pid named ($server) is not a running wineserver"
grep -qF 'To complete the installation' "$work/out" && fail "patch run: notice shown"
grep -qF ExitWindowsEx "$work/out" && fail "patch run: restart requested"

touch "$work/gate"
WINEPREFIX=$prefix timeout 60 "$writer" 1 5 "$work/gate" <&- >"$work/wout" 2>"$work/werr"
status=$?
[ "$status" = 1 ] && grep -qE 'stop it with `kill -INT [0-9]+`' "$work/werr" && pass "accessor writer: refused" ||
  fail "accessor writer: exit $status: $(cat "$work/werr")"
cmp -s "$prefix/system.reg" "$work/before" && pass "file untouched while the server runs" ||
  fail "file changed while the server runs"

ws_stop "$prefix" || fail "wineserver did not exit on SIGINT"
# Gone, or a zombie nobody has reaped yet.
[ -n "$server" ] && [[ $(ps -p "$server" -o stat= 2>/dev/null) == [^Z]* ]] && fail "wineserver $server still running"
cmp -s "$prefix/system.reg" "$work/before" && pass "file untouched after wineserver exited" ||
  fail "file changed after wineserver exited: $(diff "$work/before" "$prefix/system.reg" | head -5)"
[ -z "$(ls -A "$prefix" | grep -E 'skelvin-')" ] || fail "temporary file left"

# The server is gone: the prefix is usable again, and Wine's own file parses.
WINEPREFIX=$prefix timeout 60 "$program" <&- >"$work/out" 2>"$work/err"
status=$?
[ "$status" = 0 ] && pass "after the server: exit 0" || fail "after the server: exit $status: $(cat "$work/err")"
state=$("$check" state "$prefix/system.reg" "$work/before" "$section" YV12=0 NMMC=0)
[ "$state" = 2 ] && pass "after the server: both values written" || fail "after the server: state '$state'"

echo "wineserver refusal: $failures failure(s)"
[ "$failures" = 0 ]
