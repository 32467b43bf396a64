#!/usr/bin/env bash
# differential.sh <native program> <program.exe> <work root>
#
# The native build and the Windows program under Wine, run on copies of the
# same prepared prefix (32-bit and 64-bit for the PE32, 64-bit for the 64-bit
# build; itself a copy of the test run's template where there is one), must
# leave the decoder's values at the same key paths with the same data. The
# registry files are compared after wineserver has written them and exited
# (ws_wait). The PE32 is skipped (status 77) on a host that cannot run i386 code.
set -uo pipefail
native=$1
exe=$2
work_root=$3
source "$(dirname "$0")/../../support/wine_host.sh"
source "$(dirname "$0")/../../support/wineserver.sh"
echo "$host_kind"
require_runnable "" "$exe"
arches=(win64)
[ "$(pe_bits "$exe")" = 64 ] || arches=(win32 win64)
mkdir -p "$work_root"
work=$(mktemp -d "$work_root/differential.XXXXXX")
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY  # the box fails at once (error 1400) and the run goes on
failures=0
prefixes=()

cleanup() {
  for p in "${prefixes[@]}"; do ws_stop "$p"; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

if [ ! -x "$native" ]; then
  fail "native program $native is missing: build the native preset first"
  exit 1
fi

# The sections that name the decoder's key, without their time stamps.
decoder_sections() {
  awk '/^\[/ { keep = ($0 ~ /Mediamatics/) } keep && !/^#time=/ { sub(/\] [0-9]+$/, "]"); print }' "$1"
}

for arch in "${arches[@]}"; do
  base=$work/base-$arch
  prefixes+=("$base")
  if template=$(wine_template "$arch"); then
    cp -a "$template" "$base" || fail "$arch: cannot copy the template prefix $template"
  else
    WINEARCH=$arch WINEPREFIX=$base timeout 600 "$(wine_loader "$arch")" wineboot --init >/dev/null 2>&1
  fi
  WINEPREFIX=$base wine_set_windows "$arch" || fail "$arch: the Windows version could not be set"
  ws_wait "$base"
  for side in native exe; do
    cp -a "$base" "$work/$side-$arch"
    prefixes+=("$work/$side-$arch")
  done

  WINEPREFIX=$work/native-$arch timeout 60 "$native" <&- >/dev/null 2>"$work/native-$arch.err"
  status=$?
  [ "$status" = 0 ] && pass "$arch: native run exit 0" || fail "$arch: native run exit $status: $(cat "$work/native-$arch.err")"
  # Let Wine load and save the natively written file too, as it would next.
  WINEPREFIX=$work/native-$arch timeout 300 "$(wine_loader "$arch")" reg query 'HKLM\Software' >/dev/null 2>&1
  ws_wait "$work/native-$arch"

  WINEPREFIX=$work/exe-$arch timeout 300 "$(wine_loader "$arch" "$exe")" "$exe" >/dev/null 2>&1
  status=$?
  [ "$status" = 0 ] && pass "$arch: exe run exit 0" || fail "$arch: exe run exit $status"
  ws_wait "$work/exe-$arch"

  decoder_sections "$work/native-$arch/system.reg" >"$work/native-$arch.sections"
  decoder_sections "$work/exe-$arch/system.reg" >"$work/exe-$arch.sections"
  if [ -s "$work/exe-$arch.sections" ] && cmp -s "$work/native-$arch.sections" "$work/exe-$arch.sections"; then
    pass "$arch: same key paths and data: $(head -n 1 "$work/exe-$arch.sections")"
  else
    fail "$arch: the two runs differ"
    diff "$work/native-$arch.sections" "$work/exe-$arch.sections"
  fi
done

echo "differential: $failures failure(s)"
[ "$failures" = 0 ]
