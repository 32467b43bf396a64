#!/usr/bin/env bash
# pe_check.sh <program.exe> <icon image file> [i386|x86-64] [Windows version]
# Checks the built program's PE file: its machine (i386 and PE32 unless
# x86-64 is given: PE32+), GUI subsystem, the OS and subsystem versions in its
# header (default 5.1, Windows XP), imports from Windows system DLLs only,
# the version record with its exact texts, icon group 1 holding the 48x48
# 24-bit image 30001 (the given file), the manifest, and the size limit.
# These checks need no Wine: they run on every host.
set -uo pipefail
exe=$1
icon_image=$2
machine=${3:-i386}
windows=${4:-5.1}
if [ "$machine" = x86-64 ]; then
  objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
  format=pei-x86-64 architecture='i386:x86-64' magic=020b manifest_arch=amd64
else
  objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
  format=pei-i386 architecture=i386 magic=010b manifest_arch=x86
fi
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

header=$("$objdump" -f "$exe") || { echo "FAIL: objdump cannot read $exe" >&2; exit 1; }
private=$("$objdump" -p "$exe")

grep -q "file format $format\$" <<<"$header" && grep -q "architecture: $architecture," <<<"$header" \
  && pass "machine $machine ($format)" || fail "not a $format $machine file: $header"
grep -q "^Magic[[:space:]]*$magic" <<<"$private" && pass "optional header magic $magic" \
  || fail "optional header magic is not $magic"
grep -q '^Subsystem[[:space:]]*00000002' <<<"$private" && pass "subsystem Windows GUI" || fail "subsystem is not Windows GUI"
header_version() { awk -v f="Major$1" -v g="Minor$1" '$1 == f { major = $2 } $1 == g { minor = $2 } END { print major "." minor }' <<<"$private"; }
for part in OSystemVersion SubsystemVersion; do
  [ "$(header_version "$part")" = "$windows" ] && pass "$part $windows" || fail "$part is $(header_version "$part"), expected $windows"
done

# Imports: Windows system DLLs only (nothing of the compiler's runtime).
allowed='^(KERNEL32|USER32|ADVAPI32|GDI32|SHELL32|OLE32|OLEAUT32|COMCTL32|COMDLG32|SHLWAPI|VERSION|NTDLL|MSVCRT|WS2_32|WINSPOOL\.DRV)$'
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$private")
[ -n "$dlls" ] || fail "no imported DLLs found"
for dll in $dlls; do
  base=$(tr '[:lower:]' '[:upper:]' <<<"${dll%.[dD][lL][lL]}")
  if [[ $base =~ $allowed ]]; then pass "imports $dll"; else fail "imports a non-system DLL: $dll"; fi
done
grep -q 'USER32' <<<"$(tr '[:lower:]' '[:upper:]' <<<"$dlls")" || fail "USER32 not imported"
grep -q 'ADVAPI32' <<<"$(tr '[:lower:]' '[:upper:]' <<<"$dlls")" || fail "ADVAPI32 not imported"

size=$(stat -c %s "$exe")
[ "$size" -le 131072 ] && pass "size $size bytes <= 128 KiB" || fail "size $size bytes > 128 KiB"

# Resources.
listing=$(wrestool -l "$exe" 2>&1)
echo "$listing"
grep -Eq -- '--type=3 --name=30001 .*size=7336\]' <<<"$listing" && pass "icon 30001, 7336 bytes" \
  || fail "no icon resource 30001 of 7336 bytes"
[ "$(grep -c -- '--type=3 ' <<<"$listing")" -eq 1 ] && pass "one icon image" || fail "not exactly one icon image"
grep -Eq -- '--type=14 --name=1 ' <<<"$listing" && pass "icon group 1" || fail "no icon group 1"
[ "$(grep -c -- '--type=14 ' <<<"$listing")" -eq 1 ] && pass "one icon group" || fail "not exactly one icon group"

# Little-endian fields of a binary file: field <file> <offset> <bytes>.
field() { od -An -tu"$3" -j "$2" -N "$3" "$1" | tr -d ' '; }

wrestool -x --raw --type=14 --name=1 "$exe" >"$work/group" 2>/dev/null
if [ "$(stat -c %s "$work/group")" -eq 20 ]; then
  [ "$(field "$work/group" 2 2)" = 1 ] && [ "$(field "$work/group" 4 2)" = 1 ] && pass "group: one icon" \
    || fail "group header is not one icon"
  [ "$(field "$work/group" 6 1)" = 48 ] && [ "$(field "$work/group" 7 1)" = 48 ] && pass "group entry 48x48" \
    || fail "group entry is not 48x48"
  [ "$(field "$work/group" 12 2)" = 24 ] && pass "group entry 24 bits" || fail "group entry is not 24 bits"
  [ "$(field "$work/group" 14 4)" = 7336 ] && pass "group entry 7336 bytes" || fail "group entry size is not 7336"
  [ "$(field "$work/group" 18 2)" = 30001 ] && pass "group entry names image 30001" \
    || fail "group entry does not name image 30001"
else
  fail "icon group is not 20 bytes"
fi

wrestool -x --raw --type=3 --name=30001 "$exe" >"$work/image" 2>/dev/null
if [ -s "$work/image" ]; then
  [ "$(field "$work/image" 0 4)" = 40 ] && [ "$(field "$work/image" 4 4)" = 48 ] \
    && [ "$(field "$work/image" 8 4)" = 96 ] && [ "$(field "$work/image" 14 2)" = 24 ] \
    && pass "image header 48x48 (XOR and mask), 24 bits" || fail "image header is not 48x48 at 24 bits"
  cmp -s "$work/image" "$icon_image" && pass "image is the program's icon" || fail "image differs from $icon_image"
else
  fail "icon image 30001 cannot be extracted"
fi

# Version record: the fixed part, then the strings and the translation.
wrestool -x --raw --type=16 --name=1 "$exe" >"$work/version" 2>/dev/null
if [ -s "$work/version" ]; then
  [ "$(field "$work/version" 40 4)" = $((0xFEEF04BD)) ] || fail "no VS_FIXEDFILEINFO signature"
  expect_fixed() {  # name offset value
    local got
    got=$(field "$work/version" "$2" 4)
    [ "$got" = "$3" ] && pass "$1 = $3" || fail "$1 is $got, expected $3"
  }
  expect_fixed "file version (high)" 48 $(((1 << 16) | 0))
  expect_fixed "file version (low)" 52 0
  expect_fixed "product version (high)" 56 $(((1 << 16) | 0))
  expect_fixed "product version (low)" 60 0
  expect_fixed "file flags" 68 0
  expect_fixed "file OS" 72 4
  expect_fixed "file type" 76 1
  strings -a -el -n 1 "$work/version" >"$work/strings"
  expect_string() {  # key value: the value follows its key
    if grep -Fxq -A1 -- "$1" "$work/strings" && [ "$(grep -Fx -A1 -- "$1" "$work/strings" | sed -n 2p)" = "$2" ]; then
      pass "$1 = \"$2\""
    else
      fail "$1 is not \"$2\" (got: $(grep -Fx -A1 -- "$1" "$work/strings" | sed -n 2p))"
    fi
  }
  grep -Fxq "040904B0" "$work/strings" && pass "string table 040904B0" || fail "no string table 040904B0"
  expect_string Comments "This patch only makes changes in the registry."
  grep -Fxq CompanyName "$work/strings" && pass "CompanyName present" || fail "no CompanyName"
  expect_string FileDescription "This patch makes changes in the registry."
  expect_string FileVersion "1.00"
  expect_string InternalName "Skelvin_Patch_eng"
  expect_string OriginalFilename "Skelvin_Patch_eng.exe"
  expect_string ProductName "Skelvin Patch"
  expect_string ProductVersion "1.00"
  vsize=$(stat -c %s "$work/version")
  grep -Fxq Translation "$work/strings" && [ "$(field "$work/version" $((vsize - 4)) 2)" = $((0x0409)) ] \
    && [ "$(field "$work/version" $((vsize - 2)) 2)" = $((0x04B0)) ] && pass "translation 0x0409, 0x04B0" \
    || fail "translation is not 0x0409, 0x04B0"
else
  fail "no version record"
fi

wrestool -x --raw --type=24 --name=1 "$exe" >"$work/manifest" 2>/dev/null
if [ -s "$work/manifest" ]; then
  grep -q "name=\"Skelvin.Patch.eng\" version=\"1.0.0.0\" processorArchitecture=\"$manifest_arch\"" "$work/manifest" \
    && pass "manifest names the program, architecture $manifest_arch" || fail "manifest identity is not for $manifest_arch"
  grep -q 'requestedExecutionLevel level="requireAdministrator" uiAccess="false"' "$work/manifest" \
    && pass "manifest requires administrator" || fail "manifest does not require administrator"
  grep -q 'Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$work/manifest" \
    && pass "manifest asks for Common Controls 6" || fail "manifest lacks Common Controls 6"
  [ "$(grep -c '<supportedOS Id=' "$work/manifest")" -eq 5 ] && pass "manifest names Vista to 10/11" \
    || fail "manifest does not list the five supportedOS entries"
else
  fail "no manifest resource 1"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all PE checks passed"
