#!/usr/bin/env bash
# Files set against the store: a symbolic link planted at the temporary
# file's name (before the run, and at every call of the run) is never
# written through; a prefix or registry file of another user is refused and
# left as it was.
# Usage: hostile_files.sh <Skelvin_Patch_eng> <interposer> <hive_check> <test data dir>
set -u
program=$1 interposer=$2 check=$3 data=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-hostile-XXXXXX")
trap 'chown -R "$(id -u):$(id -g)" "$work" 2>/dev/null; rm -rf "$work"' EXIT
export TMPDIR=$work/tmp WINEDEBUG=-all
mkdir -p "$TMPDIR"
unset DISPLAY
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

base=$data/wine64_system.reg
# The sample 64-bit file has no Software\Wow6432Node: nothing is redirected.
section='Software\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'
prefix=$work/prefix
temp=$prefix/.system.reg.skelvin-tmp
victim=$work/victim
absent=$work/absent
reset() {
  rm -rf "$prefix" "$absent"
  mkdir -p "$prefix"
  cp "$base" "$prefix/system.reg"
  printf 'not a registry\n' >"$victim"
}
run() { env WINEPREFIX="$prefix" "$@" timeout 60 "$program" <&- >"$work/out" 2>"$work/err"; }
untouched() {  # <what>: the link targets are as they were
  [ "$(cat "$victim")" = 'not a registry' ] || fail "$1: written through the link into $victim"
  [ ! -e "$absent" ] || fail "$1: created $absent through the link"
}

# A link left at the temporary name before the run.
for target in "$victim" "$absent"; do
  reset
  ln -s "$target" "$temp"
  run
  status=$?
  [ "$status" = 0 ] && pass "planted link to $target: exit 0" || fail "planted link to $target: exit $status: $(cat "$work/err")"
  untouched "planted link to $target"
  [ "$("$check" state "$prefix/system.reg" "$base" "$section" YV12=0 NMMC=0)" = 2 ] ||
    fail "planted link to $target: values not written"
  [ ! -e "$temp" ] && [ ! -L "$temp" ] || fail "planted link to $target: still there"
done

# A link that appears at the temporary name just before each call of the run
# (another program racing the save): refused or replaced, never followed.
reset
rm -f "$work/log"
run LD_PRELOAD="$interposer" SKELVIN_FAULT_LOG="$work/log" || fail "clean run failed"
calls=$(wc -l <"$work/log")
refused=0
for ((k = 1; k <= calls; k++)); do
  for target in "$victim" "$absent"; do
    reset
    what="link to $target planted before call $k"
    run LD_PRELOAD="$interposer" SKELVIN_FAULT_AT=$k SKELVIN_FAULT_ACTION=link SKELVIN_FAULT_LINK_AT="$temp" \
      SKELVIN_FAULT_LINK_TO="$target"
    status=$?
    untouched "$what"
    state=$("$check" state "$prefix/system.reg" "$base" "$section" YV12=0 NMMC=0) || fail "$what: bad file"
    case $status in
      0) [ "$state" = 2 ] || fail "$what: exit 0 with $state values" ;;
      1) refused=$((refused + 1))
         grep -qF "Run-time error '26001':" "$work/err" || fail "$what: exit 1 without the 26001 report" ;;
      *) fail "$what: exit $status" ;;
    esac
    rm -f "$temp"
    run || fail "$what: the next run failed: $(cat "$work/err")"
    untouched "$what, next run"
  done
done
# The race window exists: a link planted right before the exclusive create
# makes that save fail instead of writing through it.
[ "$refused" -gt 0 ] && pass "$calls calls raced, $refused saves refused a racing link" ||
  fail "no racing link was ever refused: the exclusive create is not exercised"

# Another user's prefix and registry file (root can hand them away).
if [ "$(id -u)" = 0 ]; then
  for what in prefix file; do
    reset
    if [ "$what" = prefix ]; then chown 4242:4242 "$prefix"; else chown 4242:4242 "$prefix/system.reg"; fi
    run
    status=$?
    [ "$status" = 1 ] || fail "foreign $what: exit $status"
    grep -qF 'is not owned by you' "$work/err" && pass "foreign $what: refused" || fail "foreign $what: $(cat "$work/err")"
    grep -qF "Run-time error '26001':" "$work/err" || fail "foreign $what: no 26001 report"
    grep -qF ExitWindowsEx "$work/out" && fail "foreign $what: restart requested"
    cmp -s "$prefix/system.reg" "$base" || fail "foreign $what: file changed"
    [ "$(stat -c %u "$prefix/system.reg")" = "$([ "$what" = file ] && echo 4242 || id -u)" ] ||
      fail "foreign $what: owner changed"
    [ -z "$(ls -A "$prefix" | grep -E 'skelvin-')" ] || fail "foreign $what: temporary file left"
  done
else
  # Without root no file can be handed to another user; a root-owned
  # directory stands in for another user's prefix.
  WINEPREFIX=/ timeout 60 "$program" <&- >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" = 1 ] && grep -qF 'is not owned by you' "$work/err" && pass "foreign prefix: refused" ||
    fail "foreign prefix /: exit $status: $(cat "$work/err")"
fi

echo "hostile files: $failures failure(s)"
[ "$failures" = 0 ]
