#!/usr/bin/env bash
# The native program on a 64-bit prefix in use: its persistent wineserver
# runs and notepad is open on an Xvfb display of the run's own. The program
# works through the prefix's running Wine (its helper beside it in
# ../libexec/skelvin-patch): exit 0, the notice, the restart request made in
# that Wine. A Windows program sees both values at once; notepad is asked to
# close and exits; the server stays; once it has saved and exited,
# system.reg holds both values.
# Usage: native_live.sh <Skelvin_Patch_eng> <log file>
set -u
program=$1
helper=$(dirname "$program")/../libexec/skelvin-patch/skelvin_live64.exe
notepad_pid=
source "$(dirname "$0")/../support/wine_e2e.sh"
e2e_begin "$2" win64
e2e_on_exit() { [ -n "$notepad_pid" ] && kill "$notepad_pid" 2>/dev/null; }
if [ ! -f "$helper" ]; then
  fail "$helper is missing: build the helper (the MinGW-w64 cross compiler x86_64-w64-mingw32-g++-win32) first"
  exit 1
fi
echo "$(timeout 30 "$wine64" --version 2>&1), helper $(realpath "$helper")"
unset SKELVIN_LIVE_DIR
key='HKLM\Software\Wow6432Node\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'
section='[Software\\Wow6432Node\\Mediamatics\\DVD Express\\ActiveMovie Decoder\\Formats]'
notice='To complete the installation, your computer will restart.'
restart="ExitWindowsEx: EWX_REBOOT requested (uFlags 2, dwReserved -1); made in the prefix's running Wine, whose session ends; this host is not restarted"

# A prefix set up by Wine and saved (its server exits), then in use again.
e2e_display
if ! WINE_TIMEOUT=600 wine_cmd wineboot --init </dev/null >>"$log" 2>&1 || ! ws_wait "$prefix"; then
  fail "the prefix was not set up"
  exit 1
fi
ws_start "$prefix" || { fail "wineserver did not start"; exit 1; }
server=$(ws_pid "$prefix")
wine_cmd notepad </dev/null >>"$log" 2>&1 &
notepad_pid=$!
if ! poll 60 xdotool search --name Notepad >/dev/null 2>&1; then
  fail "no notepad window on $DISPLAY"
  exit 1
fi
pass "notepad open on $DISPLAY, wineserver $server"

timeout 120 "$program" <&- >"$work/out" 2>"$work/err"
status=$?
[ "$status" = 0 ] && pass "exit 0" || fail "exit $status: $(cat "$work/err")"
grep -qF "$notice" "$work/out" && pass "notice shown" || fail "no notice: $(cat "$work/out")"
[ "$(grep -cxF "$restart" "$work/out")" = 1 ] && pass "restart requested in the prefix's running Wine" ||
  fail "not one line '$restart': $(cat "$work/out")"
[ ! -s "$work/err" ] || fail "unexpected stderr: $(cat "$work/err")"

wine_cmd reg query "$key" >"$work/query" 2>&1
for v in YV12 NMMC; do
  grep -qE "^\s+$v\s+REG_DWORD\s+0x0\s*$" "$work/query" && pass "a program in the session reads $v = 0" ||
    fail "reg query lacks $v: $(tr -d '\r' <"$work/query")"
done

# The session's end asks notepad to close.
if poll 30 ws_gone "$notepad_pid"; then
  wait "$notepad_pid"
  pass "notepad exited (status $?)"
  notepad_pid=
else
  fail "notepad still runs 30 s after the program"
fi
# By pid: while the server saves the registry it is out of its server directory.
[[ $(ps -p "$server" -o comm= 2>/dev/null) == wineserver* ]] && pass "the persistent server $server still runs" ||
  fail "wineserver $server no longer runs"
kill -INT "$server"
poll 60 ws_gone "$server" || fail "wineserver did not exit on SIGINT"
for v in YV12 NMMC; do
  # The key's block: its header line (a timestamp after it) up to the next key.
  s="$section " v="\"$v\"=dword:00000000" awk 'index($0, ENVIRON["s"]) == 1 {k = 1; next} /^\[/ {k = 0}
    k && $0 == ENVIRON["v"] {found = 1} END {exit !found}' "$prefix/system.reg" &&
    pass "system.reg holds $v = 0" || fail "system.reg lacks $v in $section"
done

echo "native live end-to-end: $failures failure(s)"
[ "$failures" = 0 ]
