# shellcheck shell=bash
# Sourced: a prefix's wineserver started, awaited and stopped by its process,
# wherever its server directory is, never with `wineserver -k` or `-w` (Wine
# 10 as Debian 13 ships it aborts in both when the server directory is under
# $TMPDIR). Nothing races the server: a start returns once it answers on its
# socket, which it does only after loading the prefix's registry files and
# setting up its signal handlers; a stop returns once it has saved them and
# exited.
#
#   ws_pid <prefix>                 the pid of the wineserver working in the
#                                   prefix's server directory; status 1: none
#   ws_start <prefix> [wineserver]  wineserver -p, then waits until it answers
#   ws_wait <prefix> [seconds]      waits until no wineserver runs for the
#                                   prefix (default 120 s); status 1 if one does
#   ws_stop <prefix> [seconds] [TERM]
#                                   SIGINT, as wineserver -k sends it (it ends
#                                   the prefix's programs, saves the registry
#                                   and exits two seconds later), and waits;
#                                   SIGKILL and status 1 when it outlives the
#                                   wait (default 60 s). TERM: a server that
#                                   no program uses saves and exits at once.
# The environment (TMPDIR, WINEDEBUG, a mount namespace's /run/user) is the
# caller's.

ws_pid() {
  local dir d comm
  [ -d "$1" ] || return 1
  dir=server-$(stat -c %D "$1")-$(printf %x "$(stat -c %i "$1")")
  for d in $(find /proc -mindepth 2 -maxdepth 2 -name cwd -lname "*/$dir" 2>/dev/null); do
    d=${d%/cwd}
    read -r comm <"$d/comm" 2>/dev/null && [[ $comm == wineserver* ]] && echo "${d#/proc/}" && return 0
  done
  return 1
}

# ws_answers <pid> <seconds>: status 0 once the server sends a new client its
# first message (the protocol version, with a descriptor) on its socket.
ws_answers() {
  python3 - "/proc/$1/cwd/socket" "$2" <<'EOF_PY'
import array, os, socket, sys, time
path, deadline = sys.argv[1], time.monotonic() + float(sys.argv[2])
while time.monotonic() < deadline:
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(max(0.1, deadline - time.monotonic()))
            s.connect(path)
            msg, ancillary, _, _ = s.recvmsg(64, socket.CMSG_SPACE(16 * 4))
            for level, kind, data in ancillary:
                if level == socket.SOL_SOCKET and kind == socket.SCM_RIGHTS:
                    fds = array.array("i")
                    fds.frombytes(data[: len(data) - len(data) % fds.itemsize])
                    for fd in fds:
                        os.close(fd)
            if msg:
                sys.exit(0)
    except OSError:
        pass
    time.sleep(0.05)
sys.exit(1)
EOF_PY
}

ws_start() {
  local pid i
  WINEPREFIX=$1 timeout 60 "${2:-wineserver}" -p </dev/null || return 1
  for ((i = 0; i < 600; i++)); do
    pid=$(ws_pid "$1") && break
    sleep 0.1
  done
  [ -n "$pid" ] && ws_answers "$pid" 60
}

ws_gone() { [[ $(ps -p "$1" -o stat= 2>/dev/null) != [^Z]* ]]; }

ws_wait() {
  local pid i
  pid=$(ws_pid "$1") || return 0
  for ((i = 0; i < ${2:-120} * 10; i++)); do
    ws_gone "$pid" && return 0
    sleep 0.1
  done
  return 1
}

ws_stop() {
  local pid i
  pid=$(ws_pid "$1") || return 0
  kill -"${3:-INT}" "$pid" 2>/dev/null
  for ((i = 0; i < ${2:-60} * 10; i++)); do
    ws_gone "$pid" && return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  return 1
}
