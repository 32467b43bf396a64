#!/usr/bin/env bash
# Which prefix a run uses, and what it says when it cannot:
#  - WINEPREFIX relative or empty: refused ("not an absolute path"), nothing
#    made anywhere, as Wine refuses it;
#  - HOME unset: the passwd entry's home, `.wine` there (root: as a throwaway
#    user whose home is a temporary directory; the real home is never used);
#  - a 64-bit prefix whose system.reg is missing (user.reg says #arch=win64)
#    stays 64-bit: system.reg says so and 64-bit Wine reads the values in the
#    32-bit view;
#  - a read-only or unwritable prefix: refused, the cause named.
# Usage: prefix_rules.sh <Skelvin_Patch_eng> <hive_check> <test data dir>
set -u
program=$1 check=$2 data=$3
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/../support/wine_host.sh"
. "$(dirname "$0")/../support/wineserver.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-rules-XXXXXX")
user=
wine_prefixes=()
cleanup() {
  local p
  for p in "${wine_prefixes[@]}"; do ws_stop "$p"; done
  [ -n "$user" ] && userdel "$user" 2>/dev/null
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
# Wine runs in the same TMPDIR, unless it cannot start with one set.
wine_tmpdir_check
wine_env=()
[ "$wine_takes_tmpdir" = 1 ] || wine_env=(-u TMPDIR)
export TMPDIR=$work/tmp WINEDEBUG=-all
mkdir -p "$TMPDIR"
unset DISPLAY WINEARCH WINEPREFIX
formats='Mediamatics\DVD Express\ActiveMovie Decoder\Formats'
section="Software\\$formats"
# A home of its own for every run below: a run that wrongly falls back to
# $HOME/.wine writes there, not into the real one.
export HOME=$work/home
mkdir -p "$HOME"

refused() {  # <what> <status> <pattern of the cause>
  if [ "$2" = 1 ] && grep -qF "Run-time error '26001':" "$work/err" && grep -qiE "$3" "$work/err" &&
    ! grep -qE 'ExitWindowsEx|To complete the installation' "$work/out"; then
    pass "$1: refused: $(head -n 1 "$work/err")"
  else
    fail "$1: exit $status: $(head -n 1 "$work/err")"
  fi
}

# 1. Relative or empty WINEPREFIX, run from an empty directory.
mkdir -p "$work/cwd"
for value in rel/prefix ./prefix prefix/ . ''; do
  what="WINEPREFIX='$value'"
  (cd "$work/cwd" && WINEPREFIX=$value timeout 10 "$program" <&- >"$work/out" 2>"$work/err")
  status=$?
  refused "$what" "$status" 'not an absolute path'
  [ -z "$(ls -A "$work/cwd")" ] || fail "$what: made $(ls -A "$work/cwd" | tr '\n' ' ')in the working directory"
  rm -rf "${work:?}/cwd/"* "$work/cwd/".[!.]* 2>/dev/null
  [ ! -e "$HOME/.wine" ] || fail "$what: fell back to \$HOME/.wine"
  rm -rf "$HOME/.wine"
done

# 2. HOME unset: the passwd entry's home.
if [ "$(id -u)" != 0 ]; then
  not_run "HOME unset: the passwd home here is the real one ($(getent passwd "$(id -u)" | cut -d: -f6)); it is never used"
elif ! command -v useradd >/dev/null || ! command -v runuser >/dev/null; then
  not_run "HOME unset: needs useradd and runuser for a throwaway user"
else
  user=skelvin$$
  home=$work/user-home
  chmod 755 "$work"
  if ! useradd -m -d "$home" -s /bin/sh "$user" 2>"$work/err"; then
    fail "HOME unset: useradd failed: $(head -n 1 "$work/err")"
    user=
  else
    mkdir -p "$work/bin"
    cp "$program" "$work/bin/program"
    chmod 755 "$work/bin" "$work/bin/program"
    runuser -u "$user" -- mkdir -p "$home/tmp"
    (cd "$work/bin" && runuser -u "$user" -- env -u HOME -u WINEPREFIX TMPDIR="$home/tmp" WINEDEBUG=-all \
      timeout 10 "$work/bin/program" <&- >"$work/out" 2>"$work/err")
    status=$?
    state=$("$check" state "$home/.wine/system.reg" - "$section" YV12=0 NMMC=0 2>&1)
    if [ "$status" = 0 ] && [ "$state" = 2 ]; then
      pass "HOME unset: the passwd home's .wine used ($home/.wine)"
    else
      fail "HOME unset: exit $status, state '$state': $(head -n 1 "$work/err")"
    fi
    [ ! -e /.wine ] || fail "HOME unset: /.wine exists"
    userdel "$user" 2>/dev/null || fail "HOME unset: userdel failed"
    user=
  fi
fi

# 3. A 64-bit prefix without system.reg: its user.reg says #arch=win64.
prefix=$work/user-reg-only
mkdir -p "$prefix"
sed 's/^#arch=win32$/#arch=win64/' "$data/wine32_user.reg" >"$prefix/user.reg"
grep -qx '#arch=win64' "$prefix/user.reg" || fail "the sample user.reg has no #arch line to turn"
WINEPREFIX=$prefix timeout 10 "$program" <&- >"$work/out" 2>"$work/err"
status=$?
[ "$status" = 0 ] || fail "user.reg-only 64-bit prefix: exit $status: $(head -n 1 "$work/err")"
arch=$(grep -m 1 '^#arch=' "$prefix/system.reg" 2>/dev/null)
if [ "$arch" = '#arch=win64' ]; then
  pass "user.reg-only 64-bit prefix: system.reg made 64-bit"
  got=$("$check" values "$prefix/system.reg" "Software\\Wow6432Node\\$formats" 2>&1)
  [ "$got" = $'NMMC 4 00000000\nYV12 4 00000000' ] && pass "user.reg-only 64-bit prefix: values in the 32-bit view" ||
    fail "user.reg-only 64-bit prefix: Software\\Wow6432Node\\...\\Formats holds '$got'"
  if [ -x "$wine64" ]; then
    wine_prefixes+=("$prefix")
    start=$(now_ms)
    env "${wine_env[@]}" WINEPREFIX="$prefix" timeout 300 "$wine64" reg query "HKLM\\$section" /reg:32 2>"$work/err" |
      tr -d '\r' >"$work/out"
    status=${PIPESTATUS[0]}
    ws_wait "$prefix"
    if [ "$status" = 0 ] && grep -qE '^ +YV12 +REG_DWORD +0x0$' "$work/out" && grep -qE '^ +NMMC +REG_DWORD +0x0$' "$work/out"; then
      pass "user.reg-only 64-bit prefix: 64-bit Wine reads both values in the 32-bit view ($(($(now_ms) - start)) ms)"
    else
      fail "user.reg-only 64-bit prefix: wine64 reg query: exit $status: $(tr '\n' ' ' <"$work/out") $(head -n 3 "$work/err" | tr '\n' ' ')"
    fi
  else
    not_run "user.reg-only 64-bit prefix: no 64-bit Wine at $wine64 to read it back"
  fi
else
  fail "user.reg-only 64-bit prefix: system.reg says '${arch:-no #arch}'"
fi

# 4. A prefix that cannot be written: read-only (root: a read-only bind mount
#    in a private mount namespace) or without write permission (others).
ro_run() {  # <directory to make read-only> <prefix>
  unshare --mount --propagation private sh -c '
    mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" || exit 125
    exec "$@"' "$1" env WINEPREFIX="$2" timeout 10 "$program" <&- >"$work/out" 2>"$work/err"
}
for where in prefix parent; do
  dir=$work/locked-$where
  mkdir -p "$dir"
  prefix=$dir
  if [ "$where" = prefix ]; then
    cp "$data/wine64_system.reg" "$prefix/system.reg"
    what="prefix with system.reg"
  else
    prefix=$dir/new
    what="new prefix in a directory"
  fi
  if [ "$(id -u)" = 0 ]; then
    if ! unshare --mount true 2>/dev/null; then
      not_run "read-only $what: needs unshare for a read-only bind mount"
      continue
    fi
    ro_run "$dir" "$prefix"
    status=$?
    [ "$status" = 125 ] && { not_run "read-only $what: the bind mount failed"; continue; }
    refused "read-only $what" "$status" 'read-only'
  else
    chmod a-w "$dir"
    WINEPREFIX=$prefix timeout 10 "$program" <&- >"$work/out" 2>"$work/err"
    status=$?
    chmod u+w "$dir"
    refused "unwritable $what" "$status" 'permission'
  fi
  if [ "$where" = prefix ]; then
    cmp -s "$prefix/system.reg" "$data/wine64_system.reg" || fail "$what: file changed"
    [ -z "$(ls -A "$prefix" | grep -vx system.reg)" ] || fail "$what: made $(ls -A "$prefix" | grep -vx system.reg | tr '\n' ' ')"
  else
    [ ! -e "$prefix" ] || fail "$what: the prefix was made"
  fi
done
[ "$(id -u)" = 0 ] && not_run "a prefix without write permission: root is not held by permissions (read-only mounts stand in)"

finish "prefix rules"
