#!/usr/bin/env bash
# The prefix's wineserver killed while the program works through it: each
# iteration takes a copy of one 64-bit prefix set up by Wine, starts its
# persistent server and a first Wine program (so that the session's services
# are up), starts the program, and 0-400 ms later sends the server SIGTERM
# (it saves the registry and exits) or SIGKILL (it saves nothing),
# alternately. Once the program and every server of the prefix are gone (and
# the Wine processes left without a server are killed), system.reg parses
# and the program's status is 0, or 1 with the 26001 report. After SIGTERM a
# reported success means both values are in system.reg; after SIGKILL, values
# lost after a reported success are Wine's own loss of unsaved values.
# Usage: live_races.sh <Skelvin_Patch_eng> <hive_check> [iterations, default 10]
set -u
program=$1 check=$2 iterations=${3:-10}
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/../support/wine_host.sh"
. "$(dirname "$0")/../support/wineserver.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-races-XXXXXX")
export WINEDEBUG=-all
unset DISPLAY WINEPREFIX WINEARCH
prefix=
cleanup() {
  [ -n "$prefix" ] && { ws_stop "$prefix" 20; reap "$prefix"; }
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
section='Software\Wow6432Node\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'

# The processes that run with <prefix> as their WINEPREFIX (the program's
# helper, and the services and wineboot of its session), all started here.
prefix_pids() {
  local d
  for d in /proc/[0-9]*; do
    [ "${d#/proc/}" != $$ ] && grep -qzxF "WINEPREFIX=$1" "$d/environ" 2>/dev/null && echo "${d#/proc/}"
  done
}
# reap <prefix>: waits until its wineservers have exited (one the helper's
# Wine started in the killed one's place saves and exits by itself; found by
# environment, since a server that saves is out of its server directory),
# then kills the rest by pid and waits until they are gone. Status 1 when a
# server had to be killed.
reap() {
  local pids p i status=0
  for p in $(prefix_pids "$1"); do
    [[ $(cat "/proc/$p/comm" 2>/dev/null) == wineserver* ]] || continue
    for ((i = 0; i < 300; i++)); do ws_gone "$p" && break; sleep 0.1; done
    ws_gone "$p" || status=1
  done
  pids=$(prefix_pids "$1")
  for p in $pids; do kill -KILL "$p" 2>/dev/null; done
  for p in $pids; do
    for ((i = 0; i < 100; i++)); do ws_gone "$p" && break; sleep 0.1; done
  done
  return "$status"
}

echo "$host_kind; $(timeout 30 "$wine64" --version 2>&1); $iterations iterations"
mkdir "$work/base"
WINEPREFIX=$work/base timeout 300 "$wine64" wineboot --init >"$work/wineboot.out" 2>&1 && ws_wait "$work/base" ||
  { echo "FAIL: the prefix was not set up: $(tail -n 3 "$work/wineboot.out")"; exit 1; }

for ((n = 1; n <= iterations; n++)); do
  if ((n % 2)); then sig=TERM; else sig=KILL; fi
  delay=$((RANDOM % 401))
  what="$n: SIG$sig after $delay ms"
  start=$(now_ms)
  prefix=$work/p$n
  cp -a "$work/base" "$prefix"
  if ! ws_start "$prefix" ||
    ! WINEPREFIX=$prefix timeout 60 "$wine64" reg query 'HKLM\Software' >/dev/null 2>&1; then
    fail "$what: the session did not start"
    ws_stop "$prefix"
    reap "$prefix"
    continue
  fi
  server=$(ws_pid "$prefix")
  WINEPREFIX=$prefix timeout 120 "$program" <&- >"$work/out" 2>"$work/err" &
  run=$!
  sleep "$(printf '0.%03d' "$delay")"
  kill -"$sig" "$server"
  wait "$run"
  status=$?
  # What still runs when the program ran out of time, for the report.
  stuck=
  if [ "$status" = 124 ]; then
    for p in $(prefix_pids "$prefix"); do stuck+=" $(cat "/proc/$p/comm")[$p] in $(cat "/proc/$p/wchan");"; done 2>/dev/null
  fi
  for ((i = 0; i < 300; i++)); do ws_gone "$server" && break; sleep 0.1; done
  ws_gone "$server" || fail "$what: wineserver $server outlived SIG$sig"
  reap "$prefix" || fail "$what: a wineserver the helper's Wine started did not exit"

  "$check" parse "$prefix/system.reg" || fail "$what: system.reg does not parse"
  found=$("$check" values "$prefix/system.reg" "$section" 2>/dev/null | grep -E '^(YV12|NMMC) 4 00000000$' |
    cut -d' ' -f1 | sort | paste -sd+)
  case $status in
    0) ;;
    1) grep -qF "Run-time error '26001':" "$work/err" || fail "$what: exit 1 without the 26001 report" ;;
    124) fail "$what: the program had not ended 120 s after the server was killed; still running:$stuck" ;;
    *) fail "$what: exit $status: $(cat "$work/err")" ;;
  esac
  [ "$sig" = TERM ] && [ "$status" = 0 ] && [ "$found" != NMMC+YV12 ] &&
    fail "$what: exit 0, but system.reg holds ${found:-neither value}"
  # The cause of a failure, and how the restart request went.
  why=$(head -n 1 "$work/err" | sed -e "s|^$prefix: ||" -e 's|^a wineserver .* cannot work through it: ||' \
    -e 's#/[^ ]*/\(wine64\|skelvin_live64.exe\)#\1#g' -e 's|; stop it with .*||')
  case $(grep -F ExitWindowsEx: "$work/out") in
    '') restart=none ;;
    *"made in the prefix's running Wine"*) restart="made in Wine" ;;
    *"did not accept"*) restart="not accepted by Wine" ;;
    *) restart="reported only (no server)" ;;
  esac
  echo "$what: exit $status${why:+ ($why)}; restart: $restart; values in system.reg: ${found:-none};" \
    "$((($(now_ms) - start) / 1000)) s"
  rm -rf "$prefix"
done
prefix=

finish "live races"
