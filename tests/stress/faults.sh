#!/usr/bin/env bash
# No space, I/O error and read-only file system at each file-system call the
# native patch run makes in the prefix: a call that persists a change fails
# the run with the exact 26001 report, no notice, no restart request, the
# registry file as it was before that save, and nothing left behind; the
# next run succeeds.
# Usage: faults.sh <Skelvin_Patch_eng> <interposer> <hive_check> <test data dir>
set -u
program=$1 interposer=$2 check=$3 data=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/skelvin-faults-XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp WINEDEBUG=-all
mkdir -p "$TMPDIR"
unset DISPLAY
failures=0 runs=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

notice='To complete the installation, your computer will restart.'
report() {  # <value name>
  printf "Run-time error '26001':\n\nFailed to set registry value Key: '-2147483646',Section: 'Software\\\\Mediamatics\\\\DVD Express\\\\ActiveMovie Decoder\\\\Formats',Key: '%s' to value: '0'" "$1"
}

prefix=$work/prefix
reset() {  # <base file or ->
  rm -rf "$prefix"
  if [ "$1" != - ]; then
    mkdir -p "$prefix"
    cp "$1" "$prefix/system.reg"
  fi
}
run() {  # [VAR=value...]: the program on $prefix, stdin closed
  env WINEPREFIX="$prefix" "$@" timeout 60 "$program" <&- >"$work/out" 2>"$work/err"
}

for scenario in wine64 new32 new64; do
  case $scenario in
    wine64) base=$data/wine64_system.reg arch=win64 ;;
    new32) base=- arch=win32 ;;
    new64) base=- arch=win64 ;;
  esac
  section='Software\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'
  # The sample file has no Software\Wow6432Node: nothing is redirected there.
  [ "$scenario" = new64 ] && section='Software\Wow6432Node\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'

  # The calls a clean run makes in the prefix.
  reset "$base"
  rm -f "$work/log"
  run WINEARCH=$arch LD_PRELOAD="$interposer" SKELVIN_FAULT_SCOPE="$prefix" SKELVIN_FAULT_LOG="$work/log" ||
    fail "$scenario: clean run exit $?"
  mapfile -t calls <"$work/log"
  [ "${#calls[@]}" -ge 20 ] || fail "$scenario: only ${#calls[@]} calls seen"
  echo "$scenario: ${#calls[@]} calls in the prefix"

  for error in ENOSPC EIO EROFS; do
    calls_begun=0  # each registry call that writes begins by making sure the prefix exists
    for ((k = 1; k <= ${#calls[@]}; k++)); do
      read -r _ call path <<<"${calls[$((k - 1))]}"
      [[ $call == mkdir && $path == "$prefix" ]] && calls_begun=$((calls_begun + 1))
      # Removing what is not there, closing what was only read or is already
      # published, and an unnamed file the store can do without persist nothing.
      harmless=0
      [[ $call == unlink ]] && harmless=1
      [[ $call == close && $path == "$prefix" ]] && harmless=1
      [[ $call == open && $path == "$prefix" ]] && harmless=1
      [[ $call == link ]] && harmless=1
      what="$scenario: $error at call $k ($call $path)"
      reset "$base"
      run WINEARCH=$arch LD_PRELOAD="$interposer" SKELVIN_FAULT_SCOPE="$prefix" SKELVIN_FAULT_AT=$k \
        SKELVIN_FAULT_ACTION=fail SKELVIN_FAULT_ERRNO=$error
      status=$?
      runs=$((runs + 1))
      if [ "$harmless" = 1 ]; then
        [ "$status" = 0 ] || fail "$what: exit $status: $(cat "$work/err")"
        state=$("$check" state "$prefix/system.reg" "$base" "$section" YV12=0 NMMC=0) || fail "$what: bad file"
        [ "$state" = 2 ] || fail "$what: $state values written"
      else
        # The registry calls: create the key, set YV12, open the key, set NMMC.
        failed=$calls_begun
        value=YV12 want=0
        [ "$failed" -ge 3 ] && value=NMMC want=1
        [ "$status" = 1 ] || fail "$what: exit $status"
        [ "$(tail -n 3 "$work/err")" = "$(report "$value")" ] || fail "$what: stderr was: $(cat "$work/err")"
        # A run that made the prefix names it first, as Wine does; then one cause line.
        made="Skelvin_Patch_eng: created the configuration directory '$prefix'"
        lines=$(grep -cvxF "$made" "$work/err")
        { [ "$lines" = 4 ] && ! tail -n +2 "$work/err" | grep -qxF "$made"; } ||
          fail "$what: not one cause line: $(cat "$work/err")"
        grep -qF "$notice" "$work/out" && fail "$what: notice shown"
        grep -qF ExitWindowsEx "$work/out" && fail "$what: restart requested"
        if [ "$failed" -le 1 ]; then
          if [ "$base" = - ]; then
            [ ! -e "$prefix/system.reg" ] || fail "$what: a registry file was created"
          else
            cmp -s "$prefix/system.reg" "$base" || fail "$what: file changed"
          fi
        else
          state=$("$check" state "$prefix/system.reg" "$base" "$section" YV12=0 NMMC=0) || fail "$what: bad file"
          [ "$state" = "$want" ] || fail "$what: $state values written, $want expected"
        fi
      fi
      if [ "$harmless" = 0 ]; then
        left=$(ls -A "$prefix" 2>/dev/null | grep -E 'skelvin-|^\.wineserver-')
        [ -z "$left" ] || fail "$what: left behind: $left"
      fi
      # The next run succeeds.
      run WINEARCH=$arch || fail "$what: the next run failed: $(cat "$work/err")"
      state=$("$check" state "$prefix/system.reg" "$base" "$section" YV12=0 NMMC=0) || fail "$what: bad file after the next run"
      [ "$state" = 2 ] || fail "$what: the next run left $state values"
      left=$(ls -A "$prefix" | grep -E 'skelvin-|^\.wineserver-')
      [ -z "$left" ] || fail "$what: left behind after the next run: $left"
    done
  done
done

echo "faults: $runs injected runs, $failures failure(s)"
[ "$failures" = 0 ]
