#!/usr/bin/env bash
# imports_check.sh <table> <highest NT version> <program.exe>...
# Reads each program's import table (MinGW binutils' objdump) and fails on an
# imported function that the table does not list, or that the table says
# first came with a Windows newer than the given version (5.1 = Windows XP,
# 5.2 = Windows XP x64). The table: tab-separated DLL, function, version
# ("?" when unknown, which fails), source; lines starting with # are comments.
set -uo pipefail
table=$1
highest=$2
shift 2
objdump=${OBJDUMP:-objdump}
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for exe in "$@"; do
  name=$(basename "$exe")
  # The function's column is the header's Member-Name: binutils 2.44 puts an
  # Ordinal column before the hint, older ones do not.
  imports=$("$objdump" -p "$exe" | awk '
    /^[[:space:]]*DLL Name:/ { dll = toupper($3) }
    /^[[:space:]]*vma:/ { for (i = 1; i <= NF; i++) if ($i == "Member-Name") column = i; next }
    /^$/ { dll = "" }
    dll != "" && column && $1 ~ /^[0-9a-f]+$/ && NF >= column { print dll "\t" $column }')
  if [ -z "$imports" ]; then
    fail "$name: no imports read"
    continue
  fi
  # One pass: the table first, then the imports, each looked up in it.
  report=$(awk -F'\t' -v highest="$highest" -v name="$name" '
    FNR == NR { if ($0 !~ /^#/) version[$1 "\t" $2] = $3; next }
    { count++
      key = $1 "\t" $2
      if (!(key in version)) print "FAIL: " name " imports " $1 "!" $2 ", which the table does not list"
      else if (version[key] == "?" || version[key] + 0 > highest + 0)
        print "FAIL: " name " imports " $1 "!" $2 ", first in Windows NT " version[key] " (newer than " highest ")" }
    END { print "count " count }' "$table" - <<<"$imports")
  count=$(sed -n 's/^count //p' <<<"$report")
  while read -r line; do fail "${line#FAIL: }"; done < <(grep '^FAIL: ' <<<"$report")
  echo "$name: $count imports checked against NT $highest"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures import(s) failed" >&2
  exit 1
fi
echo "all imports exist on Windows NT $highest"
