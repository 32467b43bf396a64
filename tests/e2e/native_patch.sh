#!/usr/bin/env bash
# The native program as a user runs it, checked with real Wine afterwards.
# Usage: native_patch.sh <path to Skelvin_Patch_eng>
# Wine reads a 64-bit prefix with 64-bit Wine (the 32-bit view, /reg:32),
# and a 32-bit prefix with 32-bit Wine where i386 code runs.
set -u
program=$1
source "$(dirname "$0")/../support/wine_host.sh"
source "$(dirname "$0")/../support/wineserver.sh"
echo "$host_kind"
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-e2e-XXXXXX")
export WINEDEBUG=-all
unset DISPLAY
failures=0
prefixes=()

cleanup() {
  for p in "${prefixes[@]}"; do
    ws_stop "$p"
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

key='HKLM\Software\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'
section='Software\\Mediamatics\\DVD Express\\ActiveMovie Decoder\\Formats'
notice='To complete the installation, your computer will restart.'
restart='ExitWindowsEx: EWX_REBOOT requested (uFlags 2, dwReserved -1)'
error_text="Run-time error '26001':

Failed to set registry value Key: '-2147483646',Section: 'Software\\Mediamatics\\DVD Express\\ActiveMovie Decoder\\Formats',Key: 'YV12' to value: '0'"

# run_patch <prefix> <name>: runs the program with stdin closed.
run_patch() {
  WINEPREFIX=$1 timeout 60 "$program" <&- >"$work/$2.out" 2>"$work/$2.err"
  echo $?
}

check_success() {  # <prefix> <name> <expected section in system.reg>
  local prefix=$1 name=$2 stored=$3 status created=
  # A prefix the run makes is named on standard error, once, as Wine names one.
  [ -e "$prefix" ] || created="Skelvin_Patch_eng: created the configuration directory '$prefix'"
  status=$(run_patch "$prefix" "$name")
  [ "$status" = 0 ] && pass "$name: exit 0" || fail "$name: exit status $status ($(cat "$work/$name.err"))"
  grep -qF "$notice" "$work/$name.out" && pass "$name: notice shown" || fail "$name: no notice on stdout"
  grep -qF "$restart" "$work/$name.out" && pass "$name: restart requested" || fail "$name: no restart line"
  [ "$(grep -cF "$restart" "$work/$name.out")" = 1 ] || fail "$name: not exactly one restart request"
  if [ -n "$created" ]; then
    printf '%s\n' "$created" | cmp -s - "$work/$name.err" && pass "$name: the new prefix named on stderr" ||
      fail "$name: stderr was not the one line '$created': $(cat "$work/$name.err")"
  else
    [ ! -s "$work/$name.err" ] || fail "$name: unexpected stderr: $(cat "$work/$name.err")"
  fi
  grep -qF "[$stored]" "$prefix/system.reg" && pass "$name: values stored in [$stored]" ||
    fail "$name: [$stored] missing from system.reg"
  # Wine itself reads both values back, and keeps them when it updates the prefix.
  if grep -q '^#arch=win64$' "$prefix/system.reg"; then
    WINEPREFIX=$prefix timeout 600 "$wine64" reg query "$key" /reg:32 >"$work/$name.query" 2>&1
  elif [ "$host_i386" = 1 ]; then
    WINEPREFIX=$prefix timeout 600 wine reg query "$key" >"$work/$name.query" 2>&1
  else
    not_here "$name: Wine's own reading of a 32-bit prefix"
    return
  fi
  for v in YV12 NMMC; do
    grep -qE "^\s+$v\s+REG_DWORD\s+0x0\s*$" "$work/$name.query" && pass "$name: wine reads $v" ||
      fail "$name: wine reg query lacks $v: $(tr -d '\r' <"$work/$name.query")"
  done
  ws_wait "$prefix"
  grep -qF "[$stored]" "$prefix/system.reg" && grep -qF '"YV12"=dword:00000000' "$prefix/system.reg" &&
    pass "$name: values kept after Wine updated the prefix" || fail "$name: values lost after Wine ran"
}

check_refused() {  # <prefix> <name> <expected first stderr line pattern>
  local prefix=$1 name=$2 pattern=$3 status
  cp "$prefix/system.reg" "$work/$name.before"
  status=$(run_patch "$prefix" "$name")
  [ "$status" = 1 ] && pass "$name: exit 1" || fail "$name: exit status $status"
  grep -qE "$pattern" "$work/$name.err" && pass "$name: cause reported" || fail "$name: cause missing: $(cat "$work/$name.err")"
  [ "$(tail -n 3 "$work/$name.err")" = "$error_text" ] && pass "$name: exact 26001 report" ||
    fail "$name: stderr was: $(cat "$work/$name.err")"
  grep -qF "$notice" "$work/$name.out" && fail "$name: notice shown" || pass "$name: no notice"
  grep -qF "ExitWindowsEx" "$work/$name.out" && fail "$name: restart requested" || pass "$name: no restart request"
  cmp -s "$prefix/system.reg" "$work/$name.before" && pass "$name: file unchanged" || fail "$name: file changed"
}

# A new 32-bit prefix (nothing there yet).
p32=$work/p32
prefixes+=("$p32")
check_success "$p32" new32 "$section"
grep -q '^#arch=win32$' "$p32/system.reg" && pass "new32: 32-bit prefix" || fail "new32: arch line"

# A new 64-bit prefix: the 32-bit program's values live in Wow6432Node.
p64=$work/p64
prefixes+=("$p64")
WINEARCH=win64 check_success "$p64" new64 "Software\\\\Wow6432Node\\\\Mediamatics\\\\DVD Express\\\\ActiveMovie Decoder\\\\Formats"
grep -q '^#arch=win64$' "$p64/system.reg" && pass "new64: 64-bit prefix" || fail "new64: arch line"

# The same prefixes again, now set up by Wine where it could run in them.
check_success "$p32" again32 "$section"
check_success "$p64" again64 "Software\\\\Wow6432Node\\\\Mediamatics\\\\DVD Express\\\\ActiveMovie Decoder\\\\Formats"

# A running wineserver keeps the prefix: the run is refused, the file untouched.
ws_start "$p32" || fail "wineserver did not start for $p32"
check_refused "$p32" server 'wineserver \(pid ([0-9]+)\) is running.*stop it with `kill -INT \1`'
ws_stop "$p32" || fail "wineserver did not exit on SIGINT"

# A registry file that does not parse is refused and never overwritten.
corrupt=$work/corrupt
prefixes+=("$corrupt")
mkdir -p "$corrupt"
printf 'WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n\n[Software\\\\A] 1700000000\n"V"=hex:zz\n' >"$corrupt/system.reg"
check_refused "$corrupt" corrupt "^$corrupt/system.reg:7: "

# Standard output that cannot be written: the values are written, the failure
# is said on standard error and the status is 3.
output_failure() {  # <name> <expected errno text> <command...>
  local name=$1 expected=$2 prefix=$work/$1 status
  shift 2
  prefixes+=("$prefix")
  mkdir -p "$prefix"
  WINEPREFIX=$prefix timeout 60 "$@" 2>"$work/$name.err"
  status=$?
  [ "$status" = 3 ] && pass "$name: exit 3" || fail "$name: exit status $status"
  printf 'Skelvin_Patch_eng: cannot write to standard output: %s\n' "$expected" | cmp -s - "$work/$name.err" &&
    pass "$name: said on stderr" || fail "$name: stderr was: $(cat "$work/$name.err")"
  grep -qF '"YV12"=dword:00000000' "$prefix/system.reg" && grep -qF '"NMMC"=dword:00000000' "$prefix/system.reg" &&
    pass "$name: both values written" || fail "$name: values missing"
}
output_failure closed-stdout 'Bad file descriptor' sh -c 'exec "$0" <&- >&-' "$program"
if [ -w /dev/full ]; then
  output_failure full-stdout 'No space left on device' sh -c 'exec "$0" <&- >/dev/full' "$program"
else
  echo "not run on this host: full-stdout (no writable /dev/full)"
fi
# With standard output closed, nothing meant for it lands in a file the run opens.
grep -qF "$notice" "$work/closed-stdout/system.reg" "$work/closed-stdout/.skelvin.lock" 2>/dev/null &&
  fail "closed-stdout: the notice landed in a prefix file" || pass "closed-stdout: no prefix file holds the notice"

echo "native end-to-end: $failures failure(s)"
[ "$failures" = 0 ]
