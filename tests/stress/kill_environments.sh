#!/usr/bin/env bash
# Patch runs killed with SIGKILL, each followed by a run in another
# environment (another TMPDIR; as root also /run/user/<uid> present or absent
# in a private mount namespace) that completes:
#  - before each file-system call of a run in the prefix;
#  - at random moments, alone or while runs in other environments work on
#    the prefix.
# After a kill the file parses and holds the old values or a leading part of
# the new ones; after the completing run it holds both, keeps everything
# else, and nothing named *skelvin-* (or a pointer draft) is left.
# Usage: kill_environments.sh <Skelvin_Patch_eng> <interposer> <hive_check> <test data dir>
set -u
program=$1 interposer=$2 check=$3 data=$4
. "$(dirname "$0")/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-killenv-XXXXXX")
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=-all
unset DISPLAY WINEARCH WINEPREFIX
rounds=${SKELVIN_KILL_ROUNDS:-80}

kinds=(host:a host:b)
if can_ns; then
  kinds+=(present:c absent:d)
  echo "environments: TMPDIR a, b; $run_user_dir present (TMPDIR c) or absent (TMPDIR d) in a private namespace"
else
  echo "environments: TMPDIR a, b"
  not_run "kills across /run/user/<uid> present and absent: needs root and unshare"
fi

# Sets cmd to the command prefix that runs in environment <kind> on $prefix.
environment() {
  local where=${1%%:*} tmpdir=$work/tmp-${1#*:}
  mkdir -p "$tmpdir"
  cmd=(env "TMPDIR=$tmpdir" "WINEPREFIX=$prefix" "WINEARCH=$arch")
  [ "$where" = host ] || cmd=(ns_run "$where" "${cmd[@]}")
}

prefix=$work/prefix
section32='Software\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'
# scenario: <name> <base file or -> <arch> <section>
scenarios=("wine64 $data/wine64_system.reg win64 $section32"
           "new32 - win32 $section32")
set_scenario() { read -r name base arch section <<<"$1"; }
reset() {
  rm -rf "$prefix"
  if [ "$base" != - ]; then
    mkdir -p "$prefix"
    cp "$base" "$prefix/system.reg"
  fi
}
state() { "$check" state "$prefix/system.reg" "$base" "$section" YV12=0 NMMC=0 2>&1; }

# The run that completes after a kill: exit 0, both values, the rest kept,
# nothing left behind. <kind> <what>
complete() {
  environment "$1"
  "${cmd[@]}" timeout 60 "$program" <&- >"$work/out" 2>"$work/err"
  local status=$?
  [ "$status" = 0 ] || fail "$2, then a run ($1): exit $status: $(head -n 1 "$work/err")"
  local s
  s=$(state)
  [ "$s" = 2 ] || fail "$2, then a run ($1): state '$s'"
  local left
  left=$(leftovers "$prefix")
  [ -z "$left" ] || fail "$2, then a run ($1): left behind: $left"
}

# 1. A kill before each file-system call in the prefix (and right after the
#    last one) of a run in host:a and in present:c (the calls may differ:
#    where /run/user/<uid> exists, Wine keeps no pointer file in the prefix),
#    the next run in the environment after it.
set_scenario "${scenarios[0]}"
start=$(now_ms)
for ((e = 0; e < ${#kinds[@]}; e += 2)); do
  killer=${kinds[$e]} other=${kinds[$(((e + 1) % ${#kinds[@]}))]}
  reset
  rm -f "$work/log"
  environment "$killer"
  "${cmd[@]}" LD_PRELOAD="$interposer" SKELVIN_FAULT_SCOPE="$prefix" SKELVIN_FAULT_LOG="$work/log" \
    timeout 60 "$program" <&- >/dev/null 2>"$work/err" || fail "$name: clean run in $killer: $(head -n 1 "$work/err")"
  calls=$(wc -l <"$work/log")
  [ "$calls" -ge 10 ] || fail "$name: only $calls calls seen in $killer"
  before=$failures
  seen=(0 0 0)
  for ((k = 1; k <= calls + 1; k++)); do
    action=kill at=$k
    ((k > calls)) && action=after at=$calls
    what="$name: $action at call $at ($(sed -n "${at}p" "$work/log" | cut -d' ' -f2-)) in $killer"
    reset
    environment "$killer"
    { "${cmd[@]}" LD_PRELOAD="$interposer" SKELVIN_FAULT_SCOPE="$prefix" SKELVIN_FAULT_AT=$at SKELVIN_FAULT_ACTION=$action \
        timeout 60 "$program" <&- >/dev/null 2>"$work/err"; } 2>/dev/null
    status=$?
    [ "$status" = 137 ] || fail "$what: exit $status, not killed: $(head -n 1 "$work/err")"
    s=$(state)
    case $s in
      0 | 1 | 2) seen[$s]=$((seen[$s] + 1)) ;;
      *) fail "$what: torn or lost: $s" ;;
    esac
    complete "$other" "$what"
  done
  [ "$failures" = "$before" ] &&
    pass "$name: killed at each of $calls calls in $killer, then completed in $other: states old ${seen[0]}, YV12 ${seen[1]}, both ${seen[2]}"
  [ "${seen[0]}" -gt 0 ] && [ "${seen[1]}" -gt 0 ] && [ "${seen[2]}" -gt 0 ] ||
    fail "$name: in $killer the kills did not reach every stage of the run (${seen[*]})"
done
echo "kills at each call: $(($(now_ms) - start)) ms"

# 2. Kills at random moments. In even rounds two runs in other environments
#    start together with the killed one; in odd rounds one follows it.
#    The spread follows the run time: it shrinks after a run that finished
#    first and grows after a kill.
# The first spread: a clean run's time (median of three) and a quarter more.
set_scenario "${scenarios[0]}"
environment host:a
for i in 0 1 2; do
  reset
  start=$(date +%s%6N)
  "${cmd[@]}" timeout 60 "$program" <&- >/dev/null 2>&1 || fail "calibration run failed"
  times[$i]=$(($(date +%s%6N) - start))
done
span_us=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)
span_us=$((span_us * 5 / 4))
echo "a run takes about $((span_us * 4 / 5 / 1000)) ms"
killed=0 together=0
seen=(0 0 0)
before=$failures
start=$(now_ms)
for ((r = 0; r < rounds; r++)); do
  set_scenario "${scenarios[$((r / 2 % ${#scenarios[@]}))]}"
  killer=${kinds[$((RANDOM % ${#kinds[@]}))]}
  other=$killer third=$killer
  while [ "$other" = "$killer" ]; do other=${kinds[$((RANDOM % ${#kinds[@]}))]}; done
  while [ "$third" = "$killer" ]; do third=${kinds[$((RANDOM % ${#kinds[@]}))]}; done
  delay_us=$(((RANDOM * 32768 + RANDOM) % span_us))
  delay=$(printf '%d.%06d' $((delay_us / 1000000)) $((delay_us % 1000000)))
  what="$name: round $r: killed after ${delay}s in $killer"
  reset
  pair=()
  if ((r % 2 == 0)); then
    # Two runs in other environments work beside it.
    for companion in "$other" "$third"; do
      environment "$companion"
      "${cmd[@]}" timeout 60 "$program" <&- >/dev/null 2>"$work/err.${#pair[@]}" &
      pair+=($!)
    done
    what+=" while runs in $other and $third work"
  fi
  environment "$killer"
  "${cmd[@]}" timeout --foreground -s KILL "$delay" "$program" <&- >/dev/null 2>"$work/err"
  status=$?
  for ((i = 0; i < ${#pair[@]}; i++)); do
    wait "${pair[$i]}"
    pair_status=$?
    [ "$pair_status" = 0 ] || fail "$what: the run beside it: exit $pair_status: $(head -n 1 "$work/err.$i")"
  done
  case $status in
    0) span_us=$((span_us * 9 / 10 > 2000 ? span_us * 9 / 10 : 2000)) ;;
    124 | 137)
      killed=$((killed + 1))
      span_us=$((span_us * 103 / 100 < 2000000 ? span_us * 103 / 100 : 2000000)) ;;
    *) fail "$what: exit $status: $(head -n 1 "$work/err")" ;;
  esac
  s=$(state)
  if [ ${#pair[@]} -gt 0 ]; then
    together=$((together + 1))
    [ "$s" = 2 ] || fail "$what: state '$s' after both"
  else
    case $s in
      0 | 1 | 2) [ "$status" = 0 ] || seen[$s]=$((seen[$s] + 1)) ;;
      *) fail "$what: torn or lost: $s" ;;
    esac
  fi
  complete "$other" "$what"
done
took=$(($(now_ms) - start))
[ "$failures" = "$before" ] &&
  pass "$rounds random kills ($killed killed, $together beside runs in other environments) in ${took} ms: states after a lone kill: old ${seen[0]}, YV12 ${seen[1]}, both ${seen[2]}"
[ "$killed" -gt $((rounds / 3)) ] || fail "only $killed of $rounds runs were killed: the delays miss the runs"
[ "${seen[0]}" -gt 0 ] && [ $((seen[1] + seen[2])) -gt 0 ] ||
  fail "the lone kills did not land inside the runs (${seen[*]})"

finish "kills across environments"
