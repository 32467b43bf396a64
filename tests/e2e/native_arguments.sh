#!/usr/bin/env bash
# native_arguments.sh <path to Skelvin_Patch_eng>
# The native program's command line: --help and --version alone answer on
# standard output with status 0, any other argument is refused with the usage
# on standard error and status 2. None of them touches the prefix (every file
# byte for byte, with its size, mode and time) or requests a restart; a run
# without arguments, last, does both, so the checks can tell.
set -u
program=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-args-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

usage='usage: Skelvin_Patch_eng [--help | --version]'
restart='ExitWindowsEx:'
notice='To complete the installation, your computer will restart.'

# A prefix whose registry lacks the patch's values.
prefix=$work/prefix
mkdir -p "$prefix"
printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n[Software\\\\Other] 1700000000\n"V"=dword:00000001\n' >"$prefix/system.reg"
printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n' >"$prefix/user.reg"
touch -d '2001-02-03 04:05:06' "$prefix/system.reg" "$prefix/user.reg" "$prefix"

snapshot() {  # <dir>: every entry with its type, size, mode and time, and the files' bytes
  (cd "$1" && find . -printf '%p %y %s %m %T@\n' | sort && find . -type f -exec sha256sum {} + | sort)
}
snapshot "$prefix" >"$work/before"

# run <name> <arguments...>: output in $work/<name>.out and .err, status in $status.
run() {
  local name=$1
  shift
  WINEPREFIX=$prefix timeout 60 "$program" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err"
  status=$?
}

untouched() {  # <name>
  grep -qF "$restart" "$work/$1.out" && fail "$1: restart requested" || pass "$1: no restart request"
  grep -qF "$notice" "$work/$1.out" && fail "$1: notice shown" || pass "$1: no notice"
  snapshot "$prefix" | cmp -s - "$work/before" && pass "$1: prefix unchanged" ||
    fail "$1: prefix changed: $(snapshot "$prefix" | diff "$work/before" - | head -n 5)"
}

run help --help
[ "$status" = 0 ] && pass "help: exit 0" || fail "help: exit status $status"
[ "$(head -n 1 "$work/help.out")" = "$usage" ] && pass "help: usage on stdout" ||
  fail "help: stdout was: $(cat "$work/help.out")"
sed -n 2p "$work/help.out" | grep -q 'WINEPREFIX.*~/\.wine' && pass "help: names the prefix" ||
  fail "help: no line about the prefix: $(cat "$work/help.out")"
[ ! -s "$work/help.err" ] || fail "help: stderr: $(cat "$work/help.err")"
untouched help

run version --version
[ "$status" = 0 ] && pass "version: exit 0" || fail "version: exit status $status"
printf 'Skelvin Patch 1.00\n' | cmp -s - "$work/version.out" && pass "version: exact text" ||
  fail "version: stdout was: $(od -c "$work/version.out" | head -n 3)"
[ ! -s "$work/version.err" ] || fail "version: stderr: $(cat "$work/version.err")"
untouched version

# The answers to a standard output that cannot take them: said on stderr, status 3.
for answer in --help --version; do
  WINEPREFIX=$prefix timeout 60 "$program" "$answer" </dev/null >/dev/full 2>"$work/full.err"
  status=$?
  [ "$status" = 3 ] && grep -qxF 'Skelvin_Patch_eng: cannot write to standard output: No space left on device' "$work/full.err" &&
    pass "$answer >/dev/full: exit 3, said on stderr" || fail "$answer >/dev/full: status $status, stderr: $(cat "$work/full.err")"
  WINEPREFIX=$prefix timeout 60 "$program" "$answer" </dev/null >&- 2>"$work/closed.err"
  status=$?
  [ "$status" = 3 ] && grep -qxF 'Skelvin_Patch_eng: cannot write to standard output: Bad file descriptor' "$work/closed.err" &&
    pass "$answer, stdout closed: exit 3, said on stderr" || fail "$answer, stdout closed: status $status, stderr: $(cat "$work/closed.err")"
done
: >"$work/full.out"  # nothing reached standard output
untouched full

# refused <name> <expected unexpected argument> <arguments...>
refused() {
  local name=$1 unexpected=$2
  shift 2
  run "$name" "$@"
  [ "$status" = 2 ] && pass "$name: exit 2" || fail "$name: exit status $status"
  [ ! -s "$work/$name.out" ] && pass "$name: nothing on stdout" || fail "$name: stdout: $(cat "$work/$name.out")"
  grep -qxF "Skelvin_Patch_eng: unexpected argument '$unexpected'" "$work/$name.err" && grep -qxF "$usage" "$work/$name.err" &&
    pass "$name: usage on stderr" || fail "$name: stderr was: $(cat "$work/$name.err")"
  untouched "$name"
}

refused short-help -h -h
refused word x x
refused version-extra extra --version extra
refused help-version --version --help --version
refused double-dash -- --
refused empty '' ''
refused upper-help --HELP --HELP

# A prefix that does not exist is not created by a refused run.
WINEPREFIX=$work/absent timeout 60 "$program" x </dev/null >/dev/null 2>&1
[ "$?" = 2 ] && [ ! -e "$work/absent" ] && pass "absent prefix: not created" || fail "absent prefix: created or wrong status"

# The control: without arguments the same prefix is patched and a restart requested.
run plain
[ "$status" = 0 ] && pass "plain: exit 0" || fail "plain: exit status $status ($(cat "$work/plain.err"))"
grep -qF "$restart" "$work/plain.out" && pass "plain: restart requested" || fail "plain: no restart request"
grep -qF '"YV12"=dword:00000000' "$prefix/system.reg" && pass "plain: prefix patched" || fail "plain: prefix not patched"

echo "native arguments: $failures failure(s)"
[ "$failures" = 0 ]
