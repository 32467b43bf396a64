#!/usr/bin/env bash
# patch_e2e.sh <success|failure> <win32|win64> <program.exe> <helper dir> <artifacts dir> <work root>
#
# Runs the real program on a fresh Wine prefix of the given architecture under
# its own Xvfb display.
#   success: the restart notice appears with its text, Enter dismisses it, the
#            program exits 0, both values are REG_DWORD 0 in the 32-bit view
#            of HKLM, and Windows is asked to restart.
# The program is the PE32 (in a 32- or 64-bit prefix; skipped with the reason
# on a host that cannot run i386 code) or the 64-bit build (64-bit prefix),
# which reaches the same 32-bit view.
#   failure: "Software\Mediamatics" is first made a volatile key in the running
#            wineserver, so that the program's key cannot be created; the
#            critical error box appears with the accessor's description, the
#            program exits 1, and neither the notice nor a restart follows.
# A restart request is seen through Wine's own behaviour: ExitWindowsEx with
# EWX_REBOOT runs wineboot, which runs (and removes) the HKLM RunOnce entries;
# the probe entry placed there records that it ran.
# The screenshot of the box and the logs go to the artifacts directory.
set -uo pipefail

scenario=$1
arch=$2
program=$3
helpers=$4
artifacts=$5
work_root=$6

name=$arch-$scenario
program_pid=
source "$(dirname "$0")/../../support/wine_e2e.sh"
artifacts=$artifacts/$wine_windows  # one folder per Windows version Wine reports
e2e_begin "$artifacts/$name.log" "$arch" "$work_root" "$program" "$helpers/volatile_key.exe"
e2e_on_exit() { if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then kill "$program_pid"; fi; }

formats='HKLM\Software\Mediamatics\DVD Express\ActiveMovie Decoder\Formats'
runonce='HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce'
probe='HKCU\Software\SkelvinRestartProbe'
reg_view=()
[ "$arch" = win64 ] && reg_view=(/reg:64)

# 0. A display of our own, then 1. a fresh prefix whose server stays up
# between the commands.
e2e_display
display=$DISPLAY
e2e_boot

# 2. The restart probe.
if ! wine_cmd reg add "$runonce" "${reg_view[@]}" /v SkelvinRestartProbe /t REG_SZ \
  /d "C:\\windows\\system32\\reg.exe add $probe /v Restarted /t REG_DWORD /d 1 /f" /f >>"$log" 2>&1; then
  fail "cannot place the restart probe"
  exit 1
fi

# 3. For the failure run: the volatile parent key.
if [ "$scenario" = failure ]; then
  if wine_cmd "$helpers/volatile_key.exe" 'Software\Mediamatics' >>"$log" 2>&1; then
    pass "Software\\Mediamatics is volatile"
  else
    fail "cannot make Software\\Mediamatics volatile"
    exit 1
  fi
fi

# 5. The program.
wine_cmd "$program" >"$work/program.out" 2>&1 &
program_pid=$!

if [ "$scenario" = success ]; then
  caption=Restart
  expected_text='To complete the installation, your computer will restart.'
else
  caption='Skelvin Patch'
  expected_text=$'Run-time error \'26001\':\r\n\r\n'"Failed to set registry value Key: '-2147483646',Section: 'Software\\Mediamatics\\DVD Express\\ActiveMovie Decoder\\Formats',Key: 'YV12' to value: '0'"
fi

find_box() {  # sets $found to the first window with that exact name
  found=$(xdotool search --name "^$1\$" 2>/dev/null | head -n1)
  [ -n "$found" ]
}
window=
if poll 90 find_box "$caption"; then
  window=$found
  pass "the \"$caption\" box appears (window $window)"
else
  fail "no \"$caption\" box appeared"
fi

if [ -n "$window" ]; then
  sleep 1  # let the box paint before the screenshot
  import -window root "$artifacts/$name.png" >>"$log" 2>&1 || fail "screenshot failed"
  shown=$(wine_cmd "$helpers/box_text.exe" "$caption" 2>>"$log")
  printf '%s' "$shown" >"$artifacts/$name.txt"
  if [ "$shown" = "$expected_text" ]; then
    pass "the box reads the expected text"
  else
    fail "the box reads: $(printf '%q' "$shown"), expected: $(printf '%q' "$expected_text")"
  fi
  if [ "$scenario" = failure ] && find_box Restart; then fail "a restart notice shows next to the error"; fi
  xdotool windowfocus --sync "$window" >>"$log" 2>&1
  xdotool key --clearmodifiers Return >>"$log" 2>&1
fi

# 6. The exit status.
status=
if poll 60 bash -c "! kill -0 $program_pid 2>/dev/null"; then
  wait "$program_pid"
  status=$?
else
  fail "the program is still running after Enter"
fi
program_pid=
cat "$work/program.out" >>"$log"
expected_status=0
[ "$scenario" = failure ] && expected_status=1
if [ "$status" = "$expected_status" ]; then
  pass "exit status $status"
else
  fail "exit status ${status:-none}, expected $expected_status"
fi

# 7. The registry and the restart request.
probe_ran() { wine_cmd reg query "$probe" /v Restarted >/dev/null 2>&1; }
if [ "$scenario" = success ]; then
  values=$(reg32 query "$formats" 2>>"$log" | tr -d '\r')
  note "$values"
  for value in YV12 NMMC; do
    if grep -Eq "^[[:space:]]+$value[[:space:]]+REG_DWORD[[:space:]]+0x0$" <<<"$values"; then
      pass "$value is REG_DWORD 0x0"
    else
      fail "$value is not REG_DWORD 0x0"
    fi
  done
  if poll 60 probe_ran; then pass "Windows was asked to restart"; else fail "no restart request seen"; fi
else
  sleep 5  # a restart request, had one been made, runs the probe within this time
  if probe_ran; then fail "a restart request followed the error"; else pass "no restart request"; fi
  if wine_cmd reg query "$runonce" "${reg_view[@]}" /v SkelvinRestartProbe >/dev/null 2>&1; then
    pass "the RunOnce probe is still pending"
  else
    fail "the RunOnce probe was consumed"
  fi
  if find_box Restart; then fail "the restart notice appeared"; else pass "no restart notice"; fi
  if reg32 query "$formats" >/dev/null 2>&1; then fail "the Formats key exists"; else pass "the Formats key was not created"; fi
fi

# 8. Where the values live on disk (the server saves when it stops).
e2e_stop_server
section() {  # the lines of one key's section in a .reg file (key as written there)
  SECTION_KEY=$2 awk 'index($0, "[" ENVIRON["SECTION_KEY"] "]") == 1 {inside = 1; next} /^\[/ {inside = 0} inside' "$1"
}
if [ "$arch" = win64 ]; then
  stored='Software\\Wow6432Node\\Mediamatics\\DVD Express\\ActiveMovie Decoder\\Formats'
else
  stored='Software\\Mediamatics\\DVD Express\\ActiveMovie Decoder\\Formats'
fi
if [ "$scenario" = success ]; then
  body=$(section "$prefix/system.reg" "$stored")
  note "[$stored]"$'\n'"$body"
  for value in YV12 NMMC; do
    if grep -Fxq "\"$value\"=dword:00000000" <<<"$body"; then
      pass "system.reg [$stored] holds $value=dword:00000000"
    else
      fail "system.reg [$stored] lacks $value=dword:00000000"
    fi
  done
  if [ "$arch" = win64 ]; then
    if grep -Fq '[Software\\Mediamatics' "$prefix/system.reg"; then
      fail "the values also reached the 64-bit view"
    else
      pass "nothing in the 64-bit view"
    fi
  fi
else
  # The volatile key is gone with the server; nothing of the program's was saved.
  if grep -Fq 'Mediamatics' "$prefix/system.reg"; then fail "system.reg mentions Mediamatics"; else pass "system.reg holds nothing of the run"; fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; log: $log" >&2
  exit 1
fi
echo "all checks passed ($name)"
