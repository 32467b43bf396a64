#!/usr/bin/env bash
# Files set against the store:
#  - a registry file that is no regular file of at most 512 MiB (a FIFO, a
#    device or a link to one, a directory, a sparse file past the limit) is
#    refused at once, naming it, in little memory; a second run started
#    meanwhile does not wait for the first;
#  - symbolic links planted where temporary files are made or looked for
#    (the old fixed name and names of the temporary pattern, before the run
#    and before each of its calls) are never written through nor opened, and
#    are cleared away;
#  - a temporary file left by a dead run is removed, one whose owner still
#    holds its lock is left alone;
#  - a prefix or registry file of another user is refused and left as it was.
# Usage: hostile_files.sh <Skelvin_Patch_eng> <interposer> <hive_check> <test data dir>
set -u
program=$1 interposer=$2 check=$3 data=$4
. "$(dirname "$0")/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-hostile-XXXXXX")
holder=
cleanup() {
  [ -n "$holder" ] && kill "$holder" 2>/dev/null
  chown -R "$(id -u):$(id -g)" "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
export TMPDIR=$work/tmp WINEDEBUG=-all
mkdir -p "$TMPDIR"
unset DISPLAY WINEARCH WINEPREFIX

base=$data/wine64_system.reg
# The sample 64-bit file has no Software\Wow6432Node: nothing is redirected.
section='Software\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'
prefix=$work/prefix
victim=$work/victim
absent=$work/absent
fifo=$work/fifo
mkfifo "$fifo"
reset() {
  rm -rf "$prefix" "$absent"
  mkdir -p "$prefix"
  cp "$base" "$prefix/system.reg"
  printf 'not a registry\n' >"$victim"
}
run() { env WINEPREFIX="$prefix" "$@" timeout 10 "$program" <&- >"$work/out" 2>"$work/err"; }
untouched() {  # <what>: the link targets are as they were
  [ "$(cat "$victim")" = 'not a registry' ] || fail "$1: written through a link into $victim"
  [ ! -e "$absent" ] || fail "$1: created $absent through a link"
  [ -p "$fifo" ] || fail "$1: $fifo is no longer a FIFO"
}
refused() {  # <what> <status>: exit 1 with the report, no notice, no restart
  [ "$2" = 1 ] && grep -qF "Run-time error '26001':" "$work/err" &&
    ! grep -qE 'ExitWindowsEx|To complete the installation' "$work/out"
}

# 1. Registry files that are no regular file of at most 512 MiB. Each run is
#    held to 1 GiB of address space (and its peak measured where
#    /usr/bin/time is); a second run starts 0.2 s after the first.
measure=()
if [ -x /usr/bin/time ]; then
  measure=(/usr/bin/time -f %M -o)
else
  echo "note: no /usr/bin/time: memory checked only by the 1 GiB address-space limit"
fi
hostile_run() {  # <n>: one run; its status, time and peak memory go to $work/h<n>.*
  local start
  start=$(now_ms)
  if [ ${#measure[@]} -gt 0 ]; then
    env WINEPREFIX="$prefix" "${measure[@]}" "$work/h$1.rss" prlimit --as=$((1 << 30)) timeout 10 "$program" \
      <&- >"$work/h$1.out" 2>"$work/h$1.err"
  else
    env WINEPREFIX="$prefix" prlimit --as=$((1 << 30)) timeout 10 "$program" <&- >"$work/h$1.out" 2>"$work/h$1.err"
  fi
  echo "$? $(($(now_ms) - start))" >"$work/h$1.status"
}
file_cases=(fifo link-to-fifo link-to-dev-zero link-to-dev-null device directory sparse-2GiB sparse-512MiB-and-1)
for name in "${file_cases[@]}"; do
  rm -rf "$prefix"
  mkdir -p "$prefix"
  reg=$prefix/system.reg
  case $name in
    fifo) mkfifo "$reg" ;;
    link-to-fifo) ln -s "$fifo" "$reg" ;;
    link-to-dev-zero) ln -s /dev/zero "$reg" ;;
    link-to-dev-null) ln -s /dev/null "$reg" ;;
    device)
      if [ "$(id -u)" != 0 ]; then
        not_run "$name: only root can make a device node"
        continue
      fi
      if ! mknod "$reg" c 1 5 2>/dev/null; then  # what /dev/zero is
        not_run "$name: mknod is not allowed here"
        continue
      fi ;;
    directory) mkdir "$reg" ;;
    sparse-2GiB) truncate -s 2G "$reg" ;;
    sparse-512MiB-and-1) truncate -s $((512 * 1024 * 1024 + 1)) "$reg" ;;
  esac
  before=$(stat -c '%F %s' "$reg"; readlink "$reg")
  rm -f "$work"/h[12].*
  hostile_run 1 &
  first=$!
  sleep 0.2
  hostile_run 2
  wait "$first"
  for n in 1 2; do
    what="$name: run $n"
    read -r status took <"$work/h$n.status"
    rss=$(tail -n 1 "$work/h$n.rss" 2>/dev/null)
    cp "$work/h$n.out" "$work/out"
    cp "$work/h$n.err" "$work/err"
    if refused "$what" "$status" && grep -qF "$reg" "$work/err"; then
      pass "$what: refused in $took ms${rss:+, peak $rss KiB}: $(head -n 1 "$work/err")"
    else
      fail "$what: exit $status after $took ms: $(head -n 1 "$work/err")"
    fi
    [ "$took" -le 5000 ] || fail "$what: took $took ms"
    [ -z "$rss" ] || [ "$rss" -le 65536 ] || fail "$what: peak memory $rss KiB"
  done
  [ "$(stat -c '%F %s' "$reg"; readlink "$reg")" = "$before" ] || fail "$name: the file was changed"
  [[ $name != sparse* ]] || [ "$(stat -c %b "$reg")" -le 8 ] || fail "$name: the sparse file was filled"
  left=$(leftovers "$prefix")
  [ -z "$left" ] || fail "$name: left behind: $left"
done

# 2. Links at the old fixed temporary name and at names of the temporary
#    pattern before the run: not followed, not opened (a FIFO would hang the
#    run), and gone afterwards.
planted=(.system.reg.skelvin-tmp .system.reg.skelvin-old .system.reg.skelvin-AAAAAA .system.reg.skelvin-zZ09zZ)
for target in "$victim" "$absent" "$fifo"; do
  reset
  for name in "${planted[@]}"; do ln -s "$target" "$prefix/$name"; done
  what="links to $target planted before the run"
  run
  status=$?
  [ "$status" = 0 ] && pass "$what: exit 0" || fail "$what: exit $status: $(head -n 1 "$work/err")"
  untouched "$what"
  [ "$("$check" state "$prefix/system.reg" "$base" "$section" YV12=0 NMMC=0)" = 2 ] || fail "$what: values not written"
  left=$(leftovers "$prefix")
  [ -z "$left" ] && pass "$what: all cleared away" || fail "$what: left behind: $left"
done

# 3. Temporary files: those a dead run left (no lock; also the fixed names
#    an earlier version used) go; one whose owner lives (an open-file-
#    description lock on it) stays as it is until its owner is gone.
reset
dead=$prefix/.system.reg.skelvin-Dead01 live=$prefix/.system.reg.skelvin-Live01
older=("$prefix/.system.reg.skelvin-tmp" "$prefix/.system.reg.skelvin-old")
for f in "$dead" "${older[@]}"; do printf 'WINE REGISTRY Version 2\n;; half a save\n' >"$f"; done
printf 'WINE REGISTRY Version 2\n;; a save at work\n' >"$live"
cp "$live" "$work/live"
rm -f "$work/ready"
# F_OFD_SETLK (37): a write lock on the whole file, as long as the holder lives.
perl -e 'use Fcntl; open(my $f, "+<", $ARGV[0]) or die "open: $!";
  my $l = pack("s s x4 q q i x4", F_WRLCK, 0, 0, 0, 0); fcntl($f, 37, $l) or die "lock: $!";
  open(my $r, ">", $ARGV[1]) or die "ready: $!"; close $r; sleep 60' "$live" "$work/ready" &
holder=$!
for ((i = 0; i < 500; i++)); do [ -e "$work/ready" ] && break; sleep 0.01; done
if [ ! -e "$work/ready" ]; then
  fail "leftovers: the lock holder did not start"
else
  run
  status=$?
  [ "$status" = 0 ] || fail "leftovers: exit $status: $(head -n 1 "$work/err")"
  [ ! -e "$dead" ] && pass "leftovers: a dead run's temporary file removed" || fail "leftovers: $dead still there"
  for f in "${older[@]}"; do
    [ ! -e "$f" ] && pass "leftovers: an earlier version's ${f##*/} removed" || fail "leftovers: $f still there"
  done
  cmp -s "$live" "$work/live" && pass "leftovers: a live owner's temporary file left alone" ||
    fail "leftovers: a live owner's temporary file removed or changed"
  kill "$holder"
  wait "$holder" 2>/dev/null
  holder=
  run
  [ ! -e "$live" ] && pass "leftovers: removed once its owner is gone" || fail "leftovers: $live still there after its owner"
fi

# 4. A link that appears just before each call of the run (another program
#    racing the save): at the path the call names ("@"; for mkstemp and its
#    kin the template; also Wine's pointer file) and at a new name of the
#    temporary pattern. Refused or not, never followed nor opened; the next
#    run succeeds and clears away what has a temporary name.
reset
rm -f "$work/log"
run LD_PRELOAD="$interposer" SKELVIN_FAULT_SCOPE="$prefix" SKELVIN_FAULT_LOG="$work/log" || fail "clean run failed"
calls=$(wc -l <"$work/log")
if grep -qE '^[0-9]+ (mkostemp|open|openat|creat) .*/\.system\.reg\.skelvin-' "$work/log"; then
  pass "the interposer sees the temporary file being made: $(grep -oE '(mkostemp|open|openat|creat) .*/\.system\.reg\.skelvin-.*' "$work/log" | head -n 1)"
else
  fail "the interposer never sees the temporary file being made: the races below miss it"
fi
targets=("$victim" "$absent" "$fifo")
refusals=0 before=$failures uncleared=0 example=
for ((k = 1; k <= calls; k++)); do
  target=${targets[$((k % 3))]}
  call=$(sed -n "${k}p" "$work/log" | cut -d' ' -f2-)
  for at in @ "$prefix/.system.reg.skelvin-R$(printf %05d "$k")"; do
    reset
    what="link to $target planted at ${at/#$prefix\//} before call $k ($call)"
    run LD_PRELOAD="$interposer" SKELVIN_FAULT_SCOPE="$prefix" SKELVIN_FAULT_AT=$k SKELVIN_FAULT_ACTION=link \
      SKELVIN_FAULT_LINK_AT="$at" SKELVIN_FAULT_LINK_TO="$target"
    status=$?
    untouched "$what"
    state=$("$check" state "$prefix/system.reg" "$base" "$section" YV12=0 NMMC=0) || fail "$what: bad file"
    case $status in
      0) [ "$state" = 2 ] || fail "$what: exit 0 with $state values" ;;
      1) refusals=$((refusals + 1))
         refused "$what" 1 || fail "$what: exit 1 without the 26001 report" ;;
      124) fail "$what: hung (the link was opened?)" ;;
      *) fail "$what: exit $status" ;;
    esac
    run
    status=$?
    [ "$status" = 0 ] || fail "$what: the next run: exit $status: $(head -n 1 "$work/err")"
    untouched "$what, next run"
    left=$(leftovers "$prefix")
    if [ -n "$left" ]; then
      uncleared=$((uncleared + 1))
      [ -n "$example" ] || example="$what: $left"
    fi
  done
done
[ "$failures" = "$before" ] && pass "links raced before each of $calls calls, two places each: none followed ($refusals runs refused)"
[ "$uncleared" = 0 ] && pass "links raced: the next run cleared every planted link away" ||
  fail "links raced: $uncleared of $((2 * calls)) left something behind after the next run, e.g. $example"

# 5. Another user's prefix and registry file (root can hand them away).
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
    [ -z "$(leftovers "$prefix")" ] || fail "foreign $what: temporary file left"
  done
else
  # Without root no file can be handed to another user; a root-owned
  # directory stands in for another user's prefix.
  WINEPREFIX=/ timeout 10 "$program" <&- >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" = 1 ] && grep -qF 'is not owned by you' "$work/err" && pass "foreign prefix: refused" ||
    fail "foreign prefix /: exit $status: $(cat "$work/err")"
fi

finish "hostile files"
