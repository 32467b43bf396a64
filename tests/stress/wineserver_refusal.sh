#!/usr/bin/env bash
# A real wineserver running for the prefix that the program cannot work
# through: no helper beside the program (an accessor writer as well), the
# server's executable deleted, no Wine loader beside it, the server in
# another mount namespace (root only). Each run is refused naming its cause
# and the running server's pid, with no notice and no restart request, and
# the file is untouched while the server runs and after it has exited (and
# saved its own registry). Then, with no server, a run succeeds.
# Usage: wineserver_refusal.sh <Skelvin_Patch_eng> <concurrent_writer> <hive_check> <test data dir>
set -u
program=$1 writer=$2 check=$3 data=$4
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/../support/wine_host.sh"
. "$(dirname "$0")/../support/wineserver.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-wineserver-XXXXXX")
prefix=$work/prefix
export WINEDEBUG=-all
unset DISPLAY SKELVIN_LIVE_DIR
cleanup() {
  ws_stop "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT
echo "$host_kind"
# The sample 64-bit file has no Software\Wow6432Node: nothing is redirected.
section='Software\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'

mkdir -p "$prefix"
cp "$data/wine64_system.reg" "$prefix/system.reg"
# A file wineserver has written itself: start from what it saves. The real
# server binary is what the `wineserver` on PATH runs.
ws_start "$prefix" && server_exe=$(readlink "/proc/$(ws_pid "$prefix")/exe") && ws_stop "$prefix" ||
  fail "wineserver did not load and save the sample"
cp -p "$prefix/system.reg" "$work/before"
loader=$(dirname "$server_exe")/wine64
[ -x "$loader" ] || loader=$(dirname "$server_exe")/wine
echo "wineserver: $server_exe, loader: $loader"

# refused <name> <program> <cause>: one run while the server runs.
refused() {
  local name=$1 run=$2 cause=$3 status server
  server=$(ws_pid "$prefix") || { fail "$name: no wineserver runs"; return; }
  WINEPREFIX=$prefix timeout 60 "$run" <&- >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" = 1 ] && pass "$name: exit 1" || fail "$name: exit $status"
  grep -qF "$prefix: a wineserver (pid $server) is running for this prefix, and the program cannot work through it: $cause" \
    "$work/err" && grep -qF "stop it with \`kill -INT $server\`" "$work/err" &&
    pass "$name: cause, server pid $server and way out reported" || fail "$name: stderr was: $(cat "$work/err")"
  grep -qF "Run-time error '26001':" "$work/err" || fail "$name: no 26001 report"
  [[ $(ps -p "$server" -o comm= 2>/dev/null) == wineserver* ]] || fail "$name: pid $server is no running wineserver"
  grep -qF 'To complete the installation' "$work/out" && fail "$name: notice shown"
  grep -qF ExitWindowsEx "$work/out" && fail "$name: restart requested"
  cmp -s "$prefix/system.reg" "$work/before" && pass "$name: file untouched while the server runs" ||
    fail "$name: file changed while the server runs"
}

# stopped <name>: the server saves and exits; the file is as it was.
stopped() {
  local server
  server=$(ws_pid "$prefix")
  ws_stop "$prefix" || fail "$1: wineserver did not exit on SIGINT"
  [ -n "$server" ] && ! ws_gone "$server" && fail "$1: wineserver $server still running"
  cmp -s "$prefix/system.reg" "$work/before" && pass "$1: file untouched after the server exited" ||
    fail "$1: file changed after the server exited: $(diff "$work/before" "$prefix/system.reg" | head -5)"
  [ -z "$(leftovers "$prefix")" ] || fail "$1: temporary files left: $(leftovers "$prefix")"
}

# (a) The program alone, with no libexec/skelvin-patch beside it; an accessor
# writer likewise.
mkdir -p "$work/bin"
cp "$program" "$writer" "$work/bin/"
missing="$work/libexec/skelvin-patch/skelvin_live64.exe is missing"
ws_start "$prefix" || fail "no-helper: wineserver did not start"
refused no-helper "$work/bin/$(basename "$program")" "$missing"
touch "$work/gate"
WINEPREFIX=$prefix timeout 60 "$work/bin/$(basename "$writer")" 1 5 "$work/gate" <&- >"$work/wout" 2>"$work/werr"
status=$?
[ "$status" = 1 ] && grep -qF "$missing" "$work/werr" && grep -qE 'stop it with `kill -INT [0-9]+`' "$work/werr" &&
  pass "no-helper: accessor writer refused" || fail "no-helper: accessor writer: exit $status: $(cat "$work/werr")"
stopped no-helper

# (b) The server started from a copy (the loader beside it), then deleted.
mkdir -p "$work/deleted"
cp "$server_exe" "$loader" "$work/deleted/"
if ws_start "$prefix" "$work/deleted/$(basename "$server_exe")"; then
  rm "$work/deleted/$(basename "$server_exe")"
  refused deleted "$program" "its executable $work/deleted/$(basename "$server_exe") has been deleted or replaced"
else
  fail "deleted: wineserver did not start from $work/deleted"
fi
stopped deleted

# (c) The server copy alone: no loader beside it.
mkdir -p "$work/alone"
cp "$server_exe" "$work/alone/"
ws_start "$prefix" "$work/alone/$(basename "$server_exe")" || fail "no-loader: wineserver did not start"
refused no-loader "$program" "there is no Wine loader (wine64 or wine) beside $work/alone/$(basename "$server_exe")"
stopped no-loader

# (d) The server in a mount namespace of its own (it keeps the namespace).
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  printf '#!/bin/sh\nexec unshare -m %q "$@"\n' "$server_exe" >"$work/ns-server"
  chmod +x "$work/ns-server"
  ws_start "$prefix" "$work/ns-server" || fail "namespace: wineserver did not start"
  refused namespace "$program" "it runs in another mount namespace"
  stopped namespace
else
  echo "not run on this host: a wineserver in another mount namespace (unshare -m needs root; uid $(id -u))"
fi

# The server is gone: the prefix is usable again, and Wine's own file parses.
WINEPREFIX=$prefix timeout 60 "$program" <&- >"$work/out" 2>"$work/err"
status=$?
[ "$status" = 0 ] && pass "after the server: exit 0" || fail "after the server: exit $status: $(cat "$work/err")"
state=$("$check" state "$prefix/system.reg" "$work/before" "$section" YV12=0 NMMC=0)
[ "$state" = 2 ] && pass "after the server: both values written" || fail "after the server: state '$state'"

finish "wineserver refusal"
