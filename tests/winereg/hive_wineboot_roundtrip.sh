#!/bin/bash
# Registry files written by wineserver load and save back byte for byte, and a
# change made through the hive API gives the file wineserver writes for the
# same change.
#   hive_wineboot_roundtrip.sh <path of hive_roundtrip>
# A 64-bit prefix always (64-bit Wine); a 32-bit one where i386 code runs.
set -u
tool=$1
source "$(dirname "$0")/../support/wine_host.sh"
source "$(dirname "$0")/../support/wineserver.sh"
echo "$host_kind"
fail=0
prefixes=()

cleanup() {
  for p in "${prefixes[@]}"; do
    WINEDEBUG=-all ws_stop "$p"
    rm -rf "$p"
  done
}
trap cleanup EXIT

check() {  # check <file>
  if "$tool" "$1"; then
    echo "ok: $1 loads and saves byte-identically"
  else
    echo "FAIL: $1 does not round-trip"
    fail=1
  fi
}

run_prefix() {  # run_prefix <win32|win64>
  local arch=$1 p wine
  wine=$(wine_loader "$arch")
  p=$(mktemp -d /tmp/skelvin-hive-XXXXXX)
  prefixes+=("$p")
  export WINEPREFIX=$p WINEDEBUG=-all
  if ! timeout 300 env WINEARCH="$arch" "$wine" wineboot --init >/dev/null 2>&1; then
    echo "FAIL: wineboot --init ($arch)"; fail=1; return
  fi
  ws_wait "$p"
  for f in system user userdef; do check "$p/$f.reg"; done

  # One persistent session: its start-up changes settle and are saved by the
  # server's periodic save; then one value is added and the server flushes.
  local ino0 ino i
  ino0=$(stat -c %i "$p/system.reg")
  ws_start "$p"
  timeout 120 "$wine" reg query 'HKLM\Software\Wine' >/dev/null 2>&1
  for i in $(seq 1 90); do
    sleep 1
    ino=$(stat -c %i "$p/system.reg")
    [ "$ino" != "$ino0" ] && break
  done
  if [ "$ino" = "$ino0" ]; then
    echo "FAIL: no periodic save of system.reg ($arch)"; fail=1; return
  fi
  sleep 2
  mkdir "$p/before"
  cp "$p"/*.reg "$p/before/"
  local view=() key='Software\SkelvinProbe'
  [ "$arch" = win64 ] && view=(/reg:64)
  if ! timeout 120 "$wine" reg add 'HKLM\Software\SkelvinProbe' /v Name /t REG_SZ /d abc /f "${view[@]}" >/dev/null 2>&1; then
    echo "FAIL: wine reg add ($arch)"; fail=1; return
  fi
  ws_stop "$p"
  for f in system user userdef; do check "$p/$f.reg"; done
  if ! "$tool" "$p/before/system.reg" --set-sz "$key" Name abc --times-from "$p/system.reg" --out "$p/mine.reg"; then
    echo "FAIL: hive_roundtrip --set-sz ($arch)"; fail=1; return
  fi
  if cmp -s "$p/mine.reg" "$p/system.reg"; then
    echo "ok: the same change saved through the API equals wineserver's system.reg ($arch)"
  else
    echo "FAIL: the change saved through the API differs from wineserver's system.reg ($arch):"
    diff "$p/mine.reg" "$p/system.reg" | head -40
    fail=1
  fi
  if grep -q '^\[Software\\\\SkelvinProbe\] ' "$p/system.reg"; then
    echo "ok: wineserver wrote [Software\\\\SkelvinProbe] ($arch)"
  else
    echo "FAIL: wineserver's system.reg has no [Software\\\\SkelvinProbe] ($arch)"; fail=1
  fi
}

run_prefix win64
if [ "$host_i386" = 1 ]; then run_prefix win32; else not_here "the round trip of a 32-bit prefix"; fi
if [ $fail = 0 ]; then echo "hive_wineboot_roundtrip: all checks passed"; fi
exit $fail
