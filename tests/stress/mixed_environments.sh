#!/usr/bin/env bash
# Native runs that see one prefix through different environments (each its
# own TMPDIR; as root also /run/user/<uid> present or absent in a private
# mount namespace) write into it at the same time: accessor writers and the
# patch program, several rounds. Every value is there afterwards, the file
# parses and keeps what it held, nothing is left behind. Also: a run waits
# while another process holds the prefix directory's flock.
# Usage: mixed_environments.sh <Skelvin_Patch_eng> <concurrent_writer> <hive_check> <test data dir>
set -u
program=$1 writer=$2 check=$3 data=$4
. "$(dirname "$0")/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-mixed-XXXXXX")
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=-all
unset DISPLAY WINEARCH WINEPREFIX
writers=8 count=30 patches=6

# An environment: <where /run/user/<uid> is>:<TMPDIR name>; "host" leaves it as it is.
kinds=(host:a host:b host:c)
if can_ns; then
  kinds+=(present:a absent:b present:c)
  echo "environments: TMPDIR a, b, c; and $run_user_dir present or absent in a private namespace"
else
  echo "environments: TMPDIR a, b, c"
  not_run "/run/user/<uid> present in some runs and absent in others: needs root and unshare"
fi
[ -d "$run_user_dir" ] && echo "note: $run_user_dir exists on this host: Wine's server directory is there whatever TMPDIR says"

# Sets cmd to the command prefix that runs in environment <kind> on $prefix.
environment() {
  local where=${1%%:*} tmpdir=$work/tmp-${1#*:}
  mkdir -p "$tmpdir"
  cmd=(env "TMPDIR=$tmpdir" "WINEPREFIX=$prefix")
  [ "$where" = host ] || cmd=(ns_run "$where" "${cmd[@]}")
}

hex32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }

formats='Mediamatics\DVD Express\ActiveMovie Decoder\Formats'
for round in new32 new64 wine64 wine64-again; do
  prefix=$work/$round
  base=
  case $round in
    new32) arch=win32 software='Software' ;;
    new64) arch=win64 software='Software\Wow6432Node' ;;
    *) arch=win64 software='Software' base=$data/wine64_system.reg ;;  # the sample has no Wow6432Node
  esac
  mkdir -p "$prefix"
  [ -n "$base" ] && cp "$base" "$prefix/system.reg"
  [ -z "$base" ] && rmdir "$prefix"
  rm -f "$work/gate"
  pids=() names=()
  for ((w = 0; w < writers; w++)); do
    kind=${kinds[$(((w + ${#round}) % ${#kinds[@]}))]}
    environment "$kind"
    "${cmd[@]}" WINEARCH=$arch timeout 120 "$writer" "$w" "$count" "$work/gate" \
      >"$work/$round.w$w.out" 2>"$work/$round.w$w.err" </dev/null &
    pids+=($!) names+=("writer $w ($kind)")
  done
  sleep 0.2
  touch "$work/gate"
  for ((p = 0; p < patches; p++)); do
    kind=${kinds[$(((p + ${#round} + 1) % ${#kinds[@]}))]}
    environment "$kind"
    "${cmd[@]}" WINEARCH=$arch timeout 120 "$program" >"$work/$round.p$p.out" 2>"$work/$round.p$p.err" <&- &
    pids+=($!) names+=("patch run $p ($kind)")
    sleep 0.0$((RANDOM % 5))
  done
  bad=0
  for ((i = 0; i < ${#pids[@]}; i++)); do
    wait "${pids[$i]}"
    status=$?
    [ "$status" = 0 ] && continue
    bad=$((bad + 1))
    err=$work/$round.w$i.err
    [ "$i" -ge "$writers" ] && err=$work/$round.p$((i - writers)).err
    fail "$round: ${names[$i]}: exit $status: $(head -n 1 "$err")"
  done
  [ "$bad" = 0 ] && pass "$round: $writers writers and $patches patch runs in ${#kinds[@]} environments: all exit 0"
  for ((p = 0; p < patches; p++)); do
    grep -qF 'ExitWindowsEx: EWX_REBOOT requested' "$work/$round.p$p.out" || fail "$round: patch run $p: no restart request"
  done

  file=$prefix/system.reg
  if ! "$check" parse "$file" 2>"$work/why"; then
    fail "$round: system.reg does not parse: $(cat "$work/why")"
    continue
  fi
  pass "$round: system.reg parses"
  "$check" values "$file" "$software\\Skelvin Stress\\Shared" | sort >"$work/$round.got"
  for ((w = 0; w < writers; w++)); do
    for ((i = 0; i < count; i++)); do
      echo "W${w}_$i 4 $(hex32 $((w * 100000 + i)))"
    done
  done | sort >"$work/$round.want"
  lost=$(comm -23 "$work/$round.want" "$work/$round.got" | wc -l)
  if cmp -s "$work/$round.got" "$work/$round.want"; then
    pass "$round: all $((writers * count)) writer values present"
  else
    fail "$round: $lost of $((writers * count)) writer values lost or wrong: $(diff "$work/$round.want" "$work/$round.got" | head -3)"
  fi
  for ((w = 0; w < writers; w++)); do
    got=$("$check" values "$file" "$software\\Skelvin Stress\\Writer$w" 2>&1)
    [ "$got" = "Count 4 $(hex32 "$count")" ] || fail "$round: Writer$w holds '$got'"
  done
  got=$("$check" values "$file" "$software\\$formats" 2>&1)
  [ "$got" = $'NMMC 4 00000000\nYV12 4 00000000' ] && pass "$round: the patch's two values present" ||
    fail "$round: the patch's key holds '$got'"
  if [ -n "$base" ]; then
    "$check" contains "$file" "$base" 2>"$work/why" && pass "$round: everything the file held before is kept" ||
      fail "$round: $(cat "$work/why")"
  fi
  left=$(leftovers "$prefix")
  [ -z "$left" ] && pass "$round: nothing left behind" || fail "$round: left behind: $left"
done

# Another process holds the prefix directory's flock for 2 s: a run started
# meanwhile (in another TMPDIR than any before) waits for it, then completes.
prefix=$work/flocked
mkdir -p "$prefix" "$work/tmp-d"
cp "$data/wine64_system.reg" "$prefix/system.reg"
rm -f "$work/held"
flock -x "$prefix" -c "touch '$work/held'; sleep 2" &
holder=$!
for ((i = 0; i < 500; i++)); do [ -e "$work/held" ] && break; sleep 0.01; done
start=$(now_ms)
env TMPDIR=$work/tmp-d WINEPREFIX=$prefix timeout 60 "$program" <&- >"$work/out" 2>"$work/err"
status=$? took=$(($(now_ms) - start))
wait "$holder"
[ "$status" = 0 ] || fail "flocked prefix: exit $status: $(cat "$work/err")"
[ "$took" -ge 1500 ] && pass "flocked prefix: the run waited for the lock (${took} ms) and completed" ||
  fail "flocked prefix: the run took ${took} ms: it did not wait for the prefix directory's flock"
state=$("$check" state "$prefix/system.reg" "$data/wine64_system.reg" "Software\\$formats" YV12=0 NMMC=0)
[ "$state" = 2 ] || fail "flocked prefix: state '$state' after the run"

finish "mixed environments"
