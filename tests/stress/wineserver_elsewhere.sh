#!/usr/bin/env bash
# A wineserver runs for the prefix but not where the run's own environment
# would look for it: started under another TMPDIR, its `wineserver` pointer
# file removed or rewritten since, /run/user/<uid> present for one side only
# (root: private mount namespaces), or system.reg a link into a second
# prefix whose server runs. The patch run and an accessor writer are refused
# (exit 1, the 26001 report, no notice, no restart request), the server named
# where the prefix is the run's own, and after the server has exited (and
# saved its own registry) the file is exactly as it was; then a run succeeds.
# Without /proc no server can be ruled out: the run is refused, naming /proc.
# Usage: wineserver_elsewhere.sh <Skelvin_Patch_eng> <concurrent_writer> <hive_check> <test data dir>
set -u
program=$1 writer=$2 check=$3 data=$4
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/../support/wine_host.sh"
. "$(dirname "$0")/../support/wineserver.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-elsewhere-XXXXXX")
export WINEDEBUG=-all
unset DISPLAY WINEARCH WINEPREFIX
servers=()  # pids of the servers started here
cleanup() {
  local p
  for p in "$work"/*/; do ws_stop "${p%/}" 20; done
  for p in "${servers[@]}"; do
    [ -d "/proc/$p" ] && kill -KILL "$p" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
mkdir -p "$work/tmp-a" "$work/tmp-b"
# The environment named a is the servers': where Wine cannot start with
# TMPDIR set (see wine_tmpdir_check), it is the one without TMPDIR.
wine_tmpdir_check
tmp_env() {
  if [ "$1" = a ] && [ "$wine_takes_tmpdir" = 0 ]; then
    echo -u TMPDIR
  else
    mkdir -p "$work/tmp-$1"
    echo "TMPDIR=$work/tmp-$1"
  fi
}
[ "$wine_takes_tmpdir" = 1 ] || echo "note: environment a has no TMPDIR: this Wine aborts at start with one set"
section='Software\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'

# The sample as wineserver saves it itself (no Wow6432Node: nothing redirected).
mkdir -p "$work/norm"
cp "$data/wine64_system.reg" "$work/norm/system.reg"
# shellcheck disable=SC2046  # tmp_env gives whole words
env $(tmp_env a) bash -c '. "$1"; ws_start "$2" && ws_stop "$2"' sh \
  "$(dirname "$0")/../support/wineserver.sh" "$work/norm" || fail "wineserver did not load and save the sample"
base=$work/base.reg
cp "$work/norm/system.reg" "$base"
"$check" parse "$base" || fail "wineserver's own file does not parse"

# Starts a persistent wineserver for <prefix> in environment <kind> (host:<tmp> or present:<tmp>).
start_server() {
  local where=${2%%:*} tmp
  # shellcheck disable=SC2207  # whole words
  tmp=($(tmp_env "${2#*:}"))
  if [ "$where" = host ]; then
    env "${tmp[@]}" WINEPREFIX="$1" timeout 60 wineserver -p
  else
    # The namespace lives as long as the server in it.
    ns_run "$where" env "${tmp[@]}" WINEPREFIX="$1" timeout 60 wineserver -p
  fi
  local i
  for ((i = 0; i < 100; i++)); do
    server=$(ws_pid "$1") && servers+=("$server") && return 0
    sleep 0.05
  done
  return 1
}
# Stops it (SIGTERM: it saves the registry and exits at once) and waits.
stop_server() {
  kill -TERM "$1" 2>/dev/null
  local i
  for ((i = 0; i < 400; i++)); do
    [[ $(ps -p "$1" -o stat= 2>/dev/null) == [^Z]* ]] || return 0
    sleep 0.05
  done
  return 1
}
# Sets cmd to the command prefix that runs in environment <kind> on <prefix>.
environment() {
  local where=${2%%:*}
  # shellcheck disable=SC2207  # whole words
  cmd=(env $(tmp_env "${2#*:}") "WINEPREFIX=$1")
  [ "$where" = host ] || cmd=(ns_run "$where" "${cmd[@]}")
}

# case | server's environment | what happens after it started | run's environment
cases=(
  "other-tmpdir|host:a|-|host:b"
  "pointer-removed|host:a|rm|host:a"
  "pointer-rewritten|host:a|rewrite|host:a"
  "pointer-removed-other-tmpdir|host:a|rm|host:b"
  "run-user-appeared|host:a|-|present:b"
  "server-in-run-user|present:a|-|host:a"
  "symlinked-system.reg|host:a|symlink|host:b"
)
ns_ok=0
can_ns && ns_ok=1
for entry in "${cases[@]}"; do
  IFS='|' read -r name server_env after run_env <<<"$entry"
  if [ "$ns_ok" = 0 ] && [[ $server_env$run_env == *present* ]]; then
    not_run "$name: needs root and unshare for a private /run/user/<uid>"
    continue
  fi
  prefix=$work/$name
  mkdir -p "$prefix"
  cp "$base" "$prefix/system.reg"
  served=$prefix  # the prefix whose server runs
  if [ "$after" = symlink ]; then
    served=$work/$name-target
    mkdir -p "$served"
    cp "$base" "$served/system.reg"
    rm "$prefix/system.reg"
    ln -s "$served/system.reg" "$prefix/system.reg"
  fi
  if ! start_server "$served" "$server_env"; then
    fail "$name: the wineserver did not start"
    continue
  fi
  case $after in
    rm) rm -f "$prefix/wineserver" ;;
    rewrite) chmod u+w "$prefix/wineserver" && printf 'wine-elsewhere' >"$prefix/wineserver" && chmod 0400 "$prefix/wineserver" ;;
  esac
  sleep 0.3
  what="$name (server $server in $server_env, run in $run_env)"

  environment "$prefix" "$run_env"
  "${cmd[@]}" timeout 30 "$program" <&- >"$work/out" 2>"$work/err"
  status=$?
  if [ "$status" = 1 ] && grep -qF "Run-time error '26001':" "$work/err" &&
    ! grep -qE 'ExitWindowsEx|To complete the installation' "$work/out"; then
    pass "$what: patch run refused"
  else
    fail "$what: patch run: exit $status: $(head -n 1 "$work/err")"
  fi
  if [ "$served" = "$prefix" ]; then
    grep -qF "a wineserver (pid $server) is running for this prefix" "$work/err" &&
      pass "$what: the running server named" || fail "$what: stderr: $(head -n 1 "$work/err")"
  else
    grep -qi 'wineserver' "$work/err" && pass "$what: the running server given as the cause" ||
      fail "$what: stderr: $(head -n 1 "$work/err")"
  fi
  touch "$work/gate"
  "${cmd[@]}" timeout 30 "$writer" 1 5 "$work/gate" <&- >/dev/null 2>"$work/werr"
  status=$?
  [ "$status" = 1 ] && pass "$what: accessor writer refused" || fail "$what: accessor writer: exit $status: $(head -n 1 "$work/werr")"
  cmp -s "$served/system.reg" "$base" || fail "$what: file changed while the server runs"

  stop_server "$server" || fail "$what: wineserver $server did not exit"
  if cmp -s "$served/system.reg" "$base"; then
    pass "$what: file as it was after the server exited"
  else
    fail "$what: file changed after the server exited: $(diff "$base" "$served/system.reg" | head -n 3 | tr '\n' ' ')"
  fi
  left=$(leftovers "$prefix"; [ "$served" = "$prefix" ] || leftovers "$served")
  [ -z "$left" ] || fail "$what: left behind: $left"
  [ "$after" = symlink ] && continue  # what a link to another prefix's file gets, once that server is gone, is not at stake here
  "${cmd[@]}" timeout 30 "$program" <&- >"$work/out" 2>"$work/err"
  status=$?
  state=$("$check" state "$prefix/system.reg" "$base" "$section" YV12=0 NMMC=0 2>&1)
  [ "$status" = 0 ] && [ "$state" = 2 ] && pass "$what: after the server, a run succeeds" ||
    fail "$what: after the server: exit $status, state '$state': $(head -n 1 "$work/err")"
done

# No /proc (an empty tmpfs over it): whether a server runs cannot be told.
if [ "$ns_ok" = 1 ]; then
  prefix=$work/no-proc
  mkdir -p "$prefix"
  cp "$base" "$prefix/system.reg"
  unshare --mount --propagation private sh -c 'mount -t tmpfs tmpfs /proc && exec "$@"' sh \
    env TMPDIR="$work/tmp-a" WINEPREFIX="$prefix" timeout 30 "$program" <&- >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" = 1 ] && grep -qF "Run-time error '26001':" "$work/err" && grep -qF '/proc' "$work/err" &&
    pass "no /proc: refused, naming /proc" || fail "no /proc: exit $status: $(head -n 1 "$work/err")"
  grep -qE 'ExitWindowsEx|To complete the installation' "$work/out" && fail "no /proc: restart requested"
  cmp -s "$prefix/system.reg" "$base" || fail "no /proc: file changed"
else
  not_run "no /proc: needs root and unshare to hide /proc"
fi

finish "wineserver elsewhere"
