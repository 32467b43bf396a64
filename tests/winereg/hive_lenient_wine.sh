#!/bin/bash
# Every row of the lenient table (lenient_rows.h) put as system.reg into a
# fresh temporary prefix: wineserver loads it without a word, and the file it
# saves holds the same keys and values as the native save of the same input
# (time stamps aside); both saves read back natively byte for byte. So does
# one more file, a value and a key named by every UTF-16 unit
# (EveryUnitFolded): this wineserver's lower-case table against the native
# one, unit by unit.
#   hive_lenient_wine.sh <path of hive_lenient> <path of hive_roundtrip>
# wineserver loads system.reg when it starts and saves every branch it loaded
# when it exits: one persistent server per prefix (ws_start, which returns
# once the server answers, so once the file is loaded; then ws_stop with
# SIGTERM, as no program uses the server, which returns once it has saved
# and exited) does both, with no Wine program run
# in between (a program would first set the prefix up and fill its registry).
set -u
tool=$1
roundtrip=$2
source "$(dirname "$0")/../support/wine_host.sh"
source "$(dirname "$0")/../support/wineserver.sh"
echo "$host_kind"
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || skip_test "no 64-bit wineserver at $server"
echo "runs: the 64-bit wineserver ($server, $(timeout 30 "$wine64" --version)) on 64-bit prefixes (WINEARCH=win64)"
export WINEARCH=win64 WINEDEBUG=-all
fail=0
checked=0
prefixes=()
work=$(mktemp -d /tmp/skelvin-lenient-XXXXXX)

cleanup() {
  for p in "${prefixes[@]}"; do ws_stop "$p"; done
  rm -rf "$work"
}
trap cleanup EXIT

# The keys and values of a saved file: its lines without the time stamps.
content() { sed -E -e '/^#time=/d' -e 's/^(\[.*\]) [0-9]+$/\1/' "$1"; }

# Two corners where wineservers differ, probed once: Wine 10 adds a NUL to
# every class it loads (so one more at each load and save), which Wine 8
# does not; Wine 8 drops the trailing NUL of a value name when it saves,
# which Wine 10 keeps. The native store writes a class as it holds it and a
# name whole, so each Wine loads its file as it loaded the one it replaced.
# Where this wineserver does either, the two saves are compared without that
# one NUL, and the output says so.
probe=$work/probe
mkdir -p "$probe"
printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n[P] 0\n#class="c"\n"n\\0"="x"\n' \
  >"$probe/system.reg"
prefixes+=("$probe")
if ! ws_start "$probe" "$server" 2>"$probe/server.err" || ! ws_stop "$probe" 60 TERM || [ -s "$probe/server.err" ]; then
  echo "FAIL: the probe file was not loaded and saved: $(head -n 3 "$probe/server.err")"
  exit 1
fi
wine_fixes=()
native_fixes=()
if grep -qxF '#class="c\0"' "$probe/system.reg"; then
  wine_fixes+=(-e 's/^(#class=".*)\\0"$/\1"/')
  echo "note: this wineserver adds a NUL to each class it loads: its classes are compared without their last \\0"
fi
if grep -qF '"n"="x"' "$probe/system.reg"; then
  native_fixes+=(-e 's/^("([^"\\]|\\.)*)\\0"=/\1"=/')
  echo "note: this wineserver drops the trailing NUL of a value name when it saves: the native names are compared without it"
fi
wine_content() { content "$1" | sed -E -e '' "${wine_fixes[@]}"; }
native_content() { content "$1" | sed -E -e '' "${native_fixes[@]}"; }

mkdir "$work/rows"
if ! "$tool" rows "$work/rows"; then
  echo "FAIL: hive_lenient rows"
  exit 1
fi
for row in "$work"/rows/*.reg; do
  name=$(basename "$row" .reg)
  p=$work/$name
  mkdir "$p"
  prefixes+=("$p")
  cp "$row" "$p/system.reg"
  ino0=$(stat -c %i "$p/system.reg")
  checked=$((checked + 1))
  if ! ws_start "$p" "$server" 2>"$p/server.err" || ! ws_stop "$p" 60 TERM; then
    echo "FAIL: $name: wineserver did not start and load the file, or did not save and exit"
    head -5 "$p/server.err"
    fail=1
    continue
  fi
  if [ -s "$p/server.err" ]; then
    echo "FAIL: $name: wineserver reports the file:"
    head -5 "$p/server.err"
    fail=1
    continue
  fi
  if [ "$(stat -c %i "$p/system.reg")" = "$ino0" ]; then
    echo "FAIL: $name: wineserver did not save system.reg"
    fail=1
    continue
  fi
  if ! "$tool" save "$row" "$p/native.reg"; then
    echo "FAIL: $name: the native parse refuses it or its save does not read back"
    fail=1
    continue
  fi
  if ! diff <(wine_content "$p/system.reg") <(native_content "$p/native.reg") >"$p/diff"; then
    echo "FAIL: $name: wineserver's save (<) and the native save (>) differ:"
    head -20 "$p/diff"
    fail=1
    continue
  fi
  for f in "$p/system.reg" "$p/native.reg"; do
    if ! "$roundtrip" "$f"; then
      echo "FAIL: $name: $(basename "$f") does not load and save back byte for byte"
      fail=1
      continue 2
    fi
  done
  echo "ok: $name"
done
if [ "$checked" = 0 ]; then
  echo "FAIL: no rows"
  fail=1
fi
if [ $fail = 0 ]; then
  echo "hive_lenient_wine: $checked files, all as wineserver $(timeout 30 "$wine64" --version) loads and saves them"
fi
exit $fail
