# Sourced by the end-to-end scripts that drive real Wine: a temporary prefix
# of the run's own, logging, polling, its own Xvfb display and wineserver,
# and the clean-up of all of them when the script exits.
#
#   e2e_begin <log file> <arch> [work root [program...]]
#                                             the prefix is "$prefix"
#   e2e_display                               starts Xvfb, exports DISPLAY
#   e2e_boot                                  a copy of the template prefix
#                                             (wine_template) or wineboot --init,
#                                             wineserver -p, the Windows version
#                                             (wine_set_windows)
#   e2e_stop_server                           stops the server (ws_stop: it
#                                             saves the registry and exits)
#   wine_cmd <program> [args...]              runs it with the loader that fits
#                                             it and the prefix, under timeout
#   reg32 <reg arguments...>                  reg.exe on the registry as a
#                                             32-bit program sees it
# A script may define e2e_on_exit to stop programs of its own first.
# e2e_begin skips the test (status 77, the reason in its output) when the
# prefix is 32-bit or a program given after the work root is a PE32 and this
# host cannot run i386 code.
source "$(dirname "${BASH_SOURCE[0]}")/wine_host.sh"
source "$(dirname "${BASH_SOURCE[0]}")/wineserver.sh"

e2e_begin() {
  log=$1
  echo "$host_kind"
  require_runnable "$2" "${@:4}"
  mkdir -p "$(dirname "$log")"
  : >"$log"
  echo "$host_kind" >>"$log"
  if [ -n "${3:-}" ]; then
    mkdir -p "$3"
    work=$(mktemp -d "$3/e2e.XXXXXX")
  else
    work=$(mktemp -d)
  fi
  prefix=$work/prefix
  export WINEPREFIX=$prefix
  export WINEDEBUG=-all
  export WINEARCH=$2
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  failures=0
  xvfb_pid=
  server_running=0
  trap e2e_cleanup EXIT
}

fail() { echo "FAIL: $*" | tee -a "$log" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*" | tee -a "$log"; }
note() { echo "$*" >>"$log"; }
wine_cmd() { timeout --kill-after=10 "${WINE_TIMEOUT:-120}" "$(wine_loader "$WINEARCH" "$1")" "$@"; }
# Wine's reg.exe has been seen to hang once in a while on a loaded machine: a
# command that runs out of time is tried once more, and the log says so.
reg32() {
  local view=()
  [ "$WINEARCH" = win64 ] && view=(/reg:32)
  wine_cmd reg "$@" "${view[@]}"
  local status=$?
  if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    note "reg $* ran out of time; trying once more"
    wine_cmd reg "$@" "${view[@]}"
    status=$?
  fi
  return "$status"
}

# poll <seconds> <command...>: status 0 as soon as the command succeeds.
poll() {
  local limit=$1
  shift
  local i
  for ((i = 0; i < limit * 5; i++)); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

# A display of the run's own, started before Wine first runs in the prefix:
# a desktop created without one can leave the run's first window unshown.
e2e_display() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >>"$log" 2>&1 &
  xvfb_pid=$!
  if ! poll 20 test -s "$work/display"; then
    fail "Xvfb did not start"
    exit 1
  fi
  export DISPLAY=:$(head -n1 "$work/display")
  note "== display $DISPLAY"
}

# A set-up prefix whose wineserver stays up between the script's commands.
e2e_boot() {
  note "== prefix $prefix ($WINEARCH)"
  local template
  if template=$(wine_template "$WINEARCH"); then
    note "== a copy of $template"
    if ! cp -a "$template" "$prefix"; then
      fail "cannot copy the template prefix $template"
      exit 1
    fi
    ws_start "$prefix" >>"$log" 2>&1 && server_running=1
  else
    mkdir -p "$prefix"
    ws_start "$prefix" >>"$log" 2>&1 && server_running=1
    if ! WINE_TIMEOUT=900 wine_cmd wineboot --init </dev/null >>"$log" 2>&1 || [ ! -f "$prefix/.update-timestamp" ]; then
      fail "wineboot --init failed"
      exit 1
    fi
  fi
  if ! wine_set_windows "$WINEARCH" | tee -a "$log"; then
    fail "the Windows version could not be set"
    exit 1
  fi
}

e2e_stop_server() {
  [ -d "$prefix" ] && ! ws_stop "$prefix" && note "the wineserver outlived its stop and was killed"
  server_running=0
}

e2e_cleanup() {
  if declare -F e2e_on_exit >/dev/null; then e2e_on_exit; fi
  e2e_stop_server
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
