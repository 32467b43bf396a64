#!/usr/bin/env bash
# terminal_e2e.sh <about_demo> <artifacts dir>
# The terminal dialog under tmux: the screen shows the frame with the caption
# and the texts; Enter closes it; Esc closes it; a second opening shows the
# design texts again; a modeless opening closes on Enter too. The captured
# screens go to the artifacts directory.
set -uo pipefail
demo=$1
artifacts=$2
mkdir -p "$artifacts"
work=$(mktemp -d)
socket=skelvin-about-$$
failures=0
server_pid=

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
tm() { timeout 20 tmux -L "$socket" "$@"; }

cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then kill "$server_pid"; fi
  rm -rf "$work"
}
trap cleanup EXIT

poll() {  # poll <tenths of a second> <command...>
  local limit=$1
  shift
  local i
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

screen() { tm capture-pane -p -S - -t about; }
shows() { screen | grep -Fq -- "$1"; }
exited() { [ -s "$work/status" ]; }

# run <name> <key> [demo args...]: opens the dialog in a new session, checks
# the screen, presses the key and checks that the dialog closed.
run() {
  local name=$1 key=$2
  shift 2
  rm -f "$work/status" "$work/out"
  # The program's output is kept apart; the pane shows what it draws.
  {
    echo "stty -g > '$work/before'"
    printf '%q' "$demo"
    [ $# -gt 0 ] && printf ' %q' "$@"
    echo " | tee '$work/out'"
    echo "echo \"status \${PIPESTATUS[0]}\" > '$work/status.tmp'"
    echo "stty -g > '$work/after'"
    echo "mv '$work/status.tmp' '$work/status'"
    echo "sleep 30"
  } >"$work/run.sh"
  tm new-session -d -s about -x 100 -y 30 "bash $work/run.sh"
  server_pid=$(tm display-message -p '#{pid}')
  if ! poll 100 shows '[ OK ]'; then
    fail "$name: no dialog on the screen"
    screen >"$artifacts/terminal-$name.txt"
    tm kill-session -t about
    return
  fi
  screen >"$artifacts/terminal-$name.txt"
  local text
  for text in '+- About Skelvin Patch ' 'Skelvin Patch' 'Version 1.0.0' 'App Description' 'Warning: ...' '[ OK ]' \
    '-----------------------------------------------'; do
    if shows "$text"; then pass "$name: the screen shows \"$text\""; else fail "$name: \"$text\" is not on the screen"; fi
  done
  if shows 'About MyApp' || shows 'Application Title'; then fail "$name: a design text that the load replaces shows"; fi
  # The caption is the frame's top line; the OK button is on the frame's last
  # client row but one, right of the disclaimer.
  local top
  top=$(screen | grep -n -- '+- About Skelvin Patch' | head -n1 | cut -d: -f1)
  local ok_row
  ok_row=$(screen | grep -n -F '[ OK ]' | head -n1 | cut -d: -f1)
  if [ -n "$top" ] && [ -n "$ok_row" ] && [ $((ok_row - top)) -eq 14 ]; then
    pass "$name: OK sits on client row 13"
  else
    fail "$name: OK on screen row ${ok_row:-?}, frame top ${top:-?}"
  fi
  tm send-keys -t about "$key"
  if poll 50 grep -q "^closed 1" "$work/out"; then pass "$name: $key closes the dialog"; else fail "$name: $key did not close it"; fi
  if [ "$name" = reopen ]; then
    count() { [ "$(screen | grep -c -F -- "$1")" -eq "$2" ]; }
    if poll 50 count '+- About Skelvin Patch ' 2; then pass "$name: opened again"; else fail "$name: no second opening"; fi
    if count 'Version 1.0.0' 2 && count 'App Description' 2 && count 'Warning: ...' 2; then
      pass "$name: the second opening shows the texts again"
    else
      fail "$name: texts missing in the second opening"
    fi
    screen >"$artifacts/terminal-$name-2.txt"
    tm send-keys -t about Escape
    if poll 50 grep -q "^closed 2" "$work/out"; then pass "$name: Esc closes the second"; else fail "$name: second not closed"; fi
  fi
  if poll 50 exited; then
    if grep -q "status 0" "$work/status"; then pass "$name: exit status 0"; else fail "$name: $(cat "$work/status")"; fi
  else
    fail "$name: the program did not end"
  fi
  if cmp -s "$work/before" "$work/after"; then
    pass "$name: the terminal settings are restored"
  else
    fail "$name: terminal settings changed: $(cat "$work/before") -> $(cat "$work/after")"
  fi
  tm kill-session -t about
  server_pid=
}

run enter Enter
run escape Escape
run reopen Enter --times 2
run modeless Enter --modeless

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
