#!/usr/bin/env bash
# sysinfo_e2e.sh <about_demo> <32-bit stand-in.exe> <64-bit stand-in.exe> <artifacts dir>
# StartSysInfo of the native program with real Wine, on a fresh prefix of its
# own: 32-bit with the 32-bit stand-in where i386 code runs, else 64-bit with
# the 64-bit stand-in and a `wine` on PATH that starts 64-bit Wine (Debian's
# `wine` needs i386 code even for 64-bit programs):
#   1. the first location names the stand-in: it is started with wine in the
#      prefix and writes its marker;
#   2. only the second location, a folder holding MSINFO32.EXE: started;
#   3. the second location's folder without MSINFO32.EXE: the message, no start;
#   4. no wine on PATH: the message, no start;
#   5. the first location names a program by a plain name that is nowhere
#      Windows would look: the message, no start;
#   6. a plain name, in another letter case and without ".exe", of a program
#      in C:\windows\system32: started.
set -uo pipefail
demo=$1
standin32=$2
standin64=$3
artifacts=$4
source "$(dirname "$0")/../../support/wine_e2e.sh"
if [ "$host_i386" = 1 ]; then
  arch=win32 standin=$standin32
else
  arch=win64 standin=$standin64
fi
e2e_begin "$artifacts/sysinfo-native.log" "$arch"
if [ ! -f "$standin" ]; then
  fail "no $arch stand-in at $standin: its MinGW-w64 compiler was missing at configure time (.ci/install installs it)"
  exit 1
fi
if [ "$host_i386" != 1 ]; then
  mkdir -p "$work/bin"
  printf '#!/bin/sh\nexec %s "$@"\n' "$wine64" >"$work/bin/wine"
  chmod +x "$work/bin/wine"
  export PATH=$work/bin:$PATH
  echo "StartSysInfo runs \`wine\`: here one that starts 64-bit Wine ($host_why)"
fi
first='HKLM\SOFTWARE\Microsoft\Shared Tools\MSINFO'
second='HKLM\SOFTWARE\Microsoft\Shared Tools Location'
message='System Information Is Unavailable At This Time'

e2e_boot
drive_c=$prefix/drive_c
mkdir -p "$drive_c/Tools/System Info" "$drive_c/SysInfo" "$drive_c/Empty"
cp "$standin" "$drive_c/Tools/System Info/standin.exe"
cp "$standin" "$drive_c/SysInfo/msinfo32.exe"
system32=$(find "$drive_c" -maxdepth 2 -ipath "$drive_c/windows/system32" -type d -print -quit)
[ -n "$system32" ] || fail "no windows/system32 in the prefix"
cp "$standin" "$system32/SysStandin.exe"

# set_locations <first path or -> <second folder or ->: the registry as a
# Windows program sets it, saved to the prefix's files before the native run.
set_locations() {
  reg32 delete "$first" /f >>"$log" 2>&1
  reg32 delete "$second" /f >>"$log" 2>&1
  if [ "$1" != - ]; then reg32 add "$first" /v PATH /t REG_SZ /d "$1" /f >>"$log" 2>&1 || fail "reg add PATH"; fi
  if [ "$2" != - ]; then reg32 add "$second" /v MSINFO /t REG_SZ /d "$2" /f >>"$log" 2>&1 || fail "reg add MSINFO"; fi
  e2e_stop_server
}

# The marker the stand-in writes beside itself, named after the path it was
# started by (whose case may differ from the file's).
marker_in() { find "$1" -maxdepth 1 -iname "$2" -print -quit; }
started() { [ -n "$(marker_in "$1" "$2")" ]; }

# run_demo <expect start: yes|no> <folder> <marker name> <name> [env...]
run_demo() {
  local expect=$1 folder=$2 marker_name=$3 name=$4
  shift 4
  find "$folder" -maxdepth 1 -iname "$marker_name" -delete
  local out
  out=$(printf '\n' | timeout 60 env "$@" "$demo" --sysinfo 2>&1)
  echo "== $name: $out" >>"$log"
  if [ "$expect" = yes ]; then
    if poll 90 started "$folder" "$marker_name"; then
      sleep 1
      local marker
      marker=$(marker_in "$folder" "$marker_name")
      pass "$name: the program was started"
      tr -d '\r' <"$marker" >>"$log"
      grep -q '^command=' "$marker" || fail "$name: marker without a command line"
    else
      fail "$name: no marker $marker_name in $folder"
    fi
    if grep -Fq "$message" <<<"$out"; then fail "$name: the message was shown"; fi
  else
    if grep -Fq "$message" <<<"$out"; then pass "$name: the message was shown"; else fail "$name: no message: $out"; fi
    sleep 3
    if started "$folder" "$marker_name"; then fail "$name: something was started"; else pass "$name: nothing started"; fi
  fi
  e2e_stop_server
}

set_locations 'C:\Tools\System Info\standin.exe' 'C:\Empty'
run_demo yes "$drive_c/Tools/System Info" standin.exe.ran first-location

set_locations - 'C:\SysInfo'
run_demo yes "$drive_c/SysInfo" msinfo32.exe.ran second-location

set_locations - 'C:\Empty'
run_demo no "$drive_c/SysInfo" msinfo32.exe.ran second-without-program

set_locations - 'C:\SysInfo'
run_demo no "$drive_c/SysInfo" msinfo32.exe.ran no-wine PATH=/nonexistent

set_locations 'standin-nowhere.exe' 'C:\SysInfo'
run_demo no "$drive_c/SysInfo" msinfo32.exe.ran plain-name-missing

set_locations 'SYSSTANDIN' -
run_demo yes "$system32" SysStandin.exe.ran plain-name-in-system32

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; log: $log" >&2
  exit 1
fi
echo "all checks passed"
