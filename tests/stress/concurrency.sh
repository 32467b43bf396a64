#!/usr/bin/env bash
# Eight processes write different values into one prefix at the same time:
# every value is there afterwards, the file parses, nothing is left behind.
# Usage: concurrency.sh <concurrent_writer> <hive_check>
set -u
writer=$1 check=$2
writers=8 count=40
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-concurrency-XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp WINEDEBUG=-all
mkdir -p "$TMPDIR"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for arch in win32 win64; do
  prefix=$work/$arch
  rm -f "$work/gate"
  pids=()
  for ((w = 0; w < writers; w++)); do
    WINEPREFIX=$prefix WINEARCH=$arch timeout 120 "$writer" "$w" "$count" "$work/gate" \
      >"$work/$arch.$w.out" 2>"$work/$arch.$w.err" </dev/null &
    pids+=($!)
  done
  sleep 0.2
  touch "$work/gate"
  for ((w = 0; w < writers; w++)); do
    wait "${pids[$w]}" || fail "$arch: writer $w exit $?: $(cat "$work/$arch.$w.err")"
  done
  file=$prefix/system.reg
  "$check" parse "$file" || fail "$arch: system.reg does not parse"
  base='Software\Skelvin Stress'
  [ "$arch" = win64 ] && base='Software\Wow6432Node\Skelvin Stress'
  "$check" values "$file" "$base\\Shared" | sort >"$work/$arch.got"
  for ((w = 0; w < writers; w++)); do
    for ((i = 0; i < count; i++)); do
      v=$((w * 100000 + i))
      printf 'W%d_%d 4 %02x%02x%02x%02x\n' "$w" "$i" $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255))
    done
  done | sort >"$work/$arch.want"
  if cmp -s "$work/$arch.got" "$work/$arch.want"; then
    echo "ok: $arch: all $((writers * count)) values present"
  else
    fail "$arch: values lost or wrong: $(diff "$work/$arch.want" "$work/$arch.got" | head -5)"
  fi
  for ((w = 0; w < writers; w++)); do
    got=$("$check" values "$file" "$base\\Writer$w")
    [ "$got" = "Count 4 $(printf '%02x000000' "$count")" ] || fail "$arch: Writer$w holds '$got'"
  done
  left=$(ls -A "$prefix" | grep -E 'skelvin-|^\.wineserver-')
  [ -z "$left" ] || fail "$arch: left behind: $left"
done

echo "concurrency: $failures failure(s)"
[ "$failures" = 0 ]
