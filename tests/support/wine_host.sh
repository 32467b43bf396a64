# Sourced by every script that runs Wine: what this host can run, and the
# right Wine loader for a program or a prefix.
#
#   host_i386     1 when i386 code runs natively here (Wine's 32-bit loader
#                 starts), else 0; host_why then says why not
#   wine64        the 64-bit Wine loader (Debian puts no `wine64` on PATH)
#   host_kind     one line that says which sort of host this is
#   pe_bits <file>            64 for a PE32+ program, 32 for a PE32, else empty
#   wine_loader <arch> [exe]  the loader for <exe> (or a builtin program such
#                             as reg or wineboot) in a prefix of <arch>
#   require_runnable <arch> [exe...]  skips the test (skip_test) when a prefix
#                             of <arch> or one of the programs cannot run here
#   not_here <what>           prints "not run on this host: <what> (<why>)"
#   skip_test <what>          prints "SKIPPED: ..." and exits 77 (ctest's
#                             skip status for the tests that use it)
#   wine_template <arch>      prints the template prefix of <arch> that a
#                             test copies for a prefix of its own, set up
#                             already (SKELVIN_WINE_TEMPLATES/<arch>, made by
#                             wineprefix.sh template); status 1 when there is
#                             none, and the test sets one up itself
# SKELVIN_NO_I386=1 makes a host with i386 behave as one without (to try the
# 64-bit-only paths there).

wine64=${SKELVIN_WINE64:-/usr/lib/wine/wine64}

host_i386=0
host_why=
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/host-i386"
if [ "${SKELVIN_NO_I386:-}" = 1 ]; then
  host_why="SKELVIN_NO_I386=1 is set"
elif [ "$host_runs_i386" != 1 ]; then
  host_why=$host_i386_why
elif [ ! -x /usr/lib/wine/wine ]; then
  host_why="32-bit Wine (wine32:i386) is not installed"
elif ! host_probe_out=$(/usr/lib/wine/wine --version 2>&1); then
  host_why="32-bit Wine does not start here: ${host_probe_out##*: }"
else
  host_i386=1
fi
if [ "$host_i386" = 1 ]; then
  host_kind="host: runs i386 code (32-bit and 64-bit Wine)"
else
  host_kind="host: runs 64-bit code only ($host_why); 64-bit Wine only"
fi

pe_bits() {
  local offset magic
  [ -f "$1" ] || return 0
  [ "$(od -An -c -N2 "$1" | tr -d ' ')" = MZ ] || return 0
  offset=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  magic=$(od -An -tx2 -j $((offset + 24)) -N 2 "$1" | tr -d ' ')
  case $magic in
    020b) echo 64 ;;
    010b) echo 32 ;;
  esac
}

wine_loader() {
  local arch=$1 bits=
  [ -n "${2:-}" ] && bits=$(pe_bits "$2")
  if [ "$bits" = 32 ]; then
    echo wine  # a PE32 needs the 32-bit loader, in either kind of prefix
  elif [ "$bits" = 64 ] || [ "$arch" = win64 ]; then
    echo "$wine64"
  else
    echo wine
  fi
}

require_runnable() {
  [ "$host_i386" = 1 ] && return 0
  [ "$1" != win32 ] || skip_test "a 32-bit prefix"
  local exe
  for exe in "${@:2}"; do
    [ "$(pe_bits "$exe")" != 32 ] || skip_test "$(basename "$exe") is a PE32 program"
  done
}

not_here() { echo "not run on this host: $1 ($host_why)"; }

wine_template() {
  local dir=${SKELVIN_WINE_TEMPLATES:-}/$1
  [ -n "${SKELVIN_WINE_TEMPLATES:-}" ] && [ -f "$dir/.update-timestamp" ] && echo "$dir"
}

skip_test() {
  echo "SKIPPED: $1: $host_why; the win64 preset runs these checks with the 64-bit build"
  exit 77
}

# The Windows version that Wine reports in the prefixes the tests make:
# SKELVIN_WINE_WINDOWS=win10 (the default) or winxp (Windows XP; XP x64 in a
# 64-bit prefix, as on real 64-bit XP).
wine_windows=${SKELVIN_WINE_WINDOWS:-win10}

# wine_set_windows <arch>: sets that version in $WINEPREFIX and checks what
# Windows then reports there; prints one line, status 1 when it differs.
wine_set_windows() {
  local arch=$1 name expected wine reported
  case $wine_windows in
    win10) name=win10 expected=10.0 ;;
    winxp)
      if [ "$arch" = win64 ]; then name=winxp64 expected=5.2; else name=winxp expected=5.1; fi
      ;;
    *)
      echo "SKELVIN_WINE_WINDOWS=$wine_windows: expected win10 or winxp"
      return 1
      ;;
  esac
  wine=$(wine_loader "$arch")
  if ! timeout 120 "$wine" reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$name" /f >/dev/null 2>&1; then
    echo "cannot set the Windows version $name"
    return 1
  fi
  reported=$(timeout 120 "$wine" cmd /c ver 2>/dev/null | tr -d '\r' | grep -o '[0-9][0-9.]*' | head -n 1)
  echo "Wine reports Windows $reported ($name)"
  [[ $reported == "$expected".* ]]
}

# wine_tmpdir_check: sets wine_takes_tmpdir to 0 when Wine aborts at start
# whenever TMPDIR is set ("free(): invalid pointer": Debian's Wine 10 without
# /run/user/<uid>, whose server directory code frees the environment's
# string), else 1. Probed once, with `wineserver -k` in a throwaway prefix.
wine_tmpdir_check() {
  [ -n "${wine_takes_tmpdir:-}" ] && return 0
  wine_takes_tmpdir=1
  [ -d "/run/user/$(id -u)" ] && return 0
  local d status
  d=$(mktemp -d /tmp/skelvin-tmpdir-probe.XXXXXX) || return 0
  mkdir "$d/p"
  TMPDIR=$d WINEPREFIX=$d/p WINEDEBUG=-all timeout 30 wineserver -k >/dev/null 2>&1
  status=$?
  rm -rf "$d"
  [ "$status" = 134 ] && wine_takes_tmpdir=0
  return 0
}
# A TMPDIR this Wine cannot start with is dropped for the Wine the tests run.
if [ -n "${TMPDIR+set}" ]; then
  wine_tmpdir_check
  if [ "$wine_takes_tmpdir" = 0 ]; then
    echo "note: TMPDIR unset: this Wine aborts at start when TMPDIR is set and /run/user/$(id -u) is missing" >&2
    unset TMPDIR
  fi
fi
