#!/usr/bin/env bash
# dialog_e2e.sh <about_demo.exe> <about_probe.exe> <sysinfo_standin.exe> <artifacts dir>
#
# The real About dialog under Wine and Xvfb, on a fresh prefix of its own
# (32-bit for the PE32, skipped with the reason on a host that cannot run
# i386 code; 64-bit for the 64-bit build, which reads the 32-bit view):
#   - every control's class, text and rectangle read back and compared with
#     the design at 96 dots per inch (15 twips a pixel); the window's styles,
#     icon and focus; the two lines and the icon checked on the screenshot
#     (artifacts/about-dialog.png);
#   - Enter, Esc and a click on OK each close it, and each new opening shows
#     the design texts again; a modeless opening closes on Enter too;
#   - StartSysInfo starts the stand-in from the first location, then from the
#     second, and shows "System Information Is Unavailable At This Time"
#     (caption "Skelvin Patch") when neither holds it.
set -uo pipefail
demo=$1
probe=$2
standin=$3
artifacts=$4
demo_pid=
source "$(dirname "$0")/../../support/wine_e2e.sh"
artifacts=$artifacts/$wine_windows  # one folder per Windows version Wine reports
arch=win32
[ "$(pe_bits "$demo")" = 64 ] && arch=win64
e2e_begin "$artifacts/about-$arch.log" "$arch" "" "$demo" "$probe" "$standin"
e2e_on_exit() { if [ -n "$demo_pid" ] && kill -0 "$demo_pid" 2>/dev/null; then kill "$demo_pid"; fi; }

e2e_display
e2e_boot

caption='About Skelvin Patch'
find_window() {  # sets $window to the X window of that exact name
  window=$(xdotool search --name "^$1\$" 2>/dev/null | head -n1)
  [ -n "$window" ]
}
gone() { ! xdotool search --name "^$1\$" >/dev/null 2>&1; }
closed() { tr -d '\r' <"$work/demo.out" 2>/dev/null | grep -q "^closed $1\$"; }

start_demo() {
  : >"$work/demo.out"
  wine_cmd "$demo" "$@" >"$work/demo.out" 2>>"$log" &
  demo_pid=$!
}
finish_demo() {  # finish_demo <name>: the demo ends with status 0
  local status=
  if poll 60 bash -c "! kill -0 $demo_pid 2>/dev/null"; then
    wait "$demo_pid"
    status=$?
  fi
  demo_pid=
  tr -d '\r' <"$work/demo.out" >>"$log"
  if [ "$status" = 0 ]; then pass "$1: the demo ends with status 0"; else fail "$1: the demo's status is ${status:-none (still running)}"; fi
}

# probe_dialog <name>: reads the dialog back and compares it with the design.
probe_dialog() {
  local name=$1
  local out
  out=$(wine_cmd "$probe" "$caption" 2>>"$log" | tr -d '\r')
  printf '%s\n' "$out" >"$artifacts/about-dialog-$name.txt"
  note "$out"
  local win
  win=$(grep '^window ' <<<"$out")
  [ -n "$win" ] || { fail "$name: no window read back"; return; }
  field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$2"; }
  [ "$(field class "$win")" = frmAbout ] && pass "$name: window class frmAbout" || fail "$name: window class $(field class "$win")"
  grep -q "caption=About Skelvin Patch style=" <<<"$win" && pass "$name: caption" || fail "$name: caption in: $win"
  # The client area: 5730 x 3555 twips at (2340, 1935).
  [ "$(field client "$win")" = "$((2340 / 15)),$((1935 / 15)),$((5730 / 15)),$((3555 / 15))" ] &&
    pass "$name: client area 156,129 382x237" || fail "$name: client area $(field client "$win")"
  local style exstyle
  style=$(( $(field style "$win") ))
  exstyle=$(( $(field exstyle "$win") ))
  (( style & 0x00C00000 )) && pass "$name: caption bar" || fail "$name: no WS_CAPTION"
  (( style & 0x00080000 )) && pass "$name: system menu" || fail "$name: no WS_SYSMENU"
  (( style & 0x00040000 )) && fail "$name: sizing border (WS_THICKFRAME)" || pass "$name: no sizing border"
  (( style & 0x00020000 )) && fail "$name: minimize box" || pass "$name: no minimize box"
  (( style & 0x00010000 )) && fail "$name: maximize box" || pass "$name: no maximize box"
  (( exstyle & 0x00000001 )) && pass "$name: dialog frame" || fail "$name: no WS_EX_DLGMODALFRAME"
  # The window icon, as Wine hands it to X: the 48x48 application icon and
  # its small copy.
  local icons
  icons=$(timeout 20 xprop -id "$window" _NET_WM_ICON 2>>"$log" | grep -o 'Icon ([0-9]* x [0-9]*)' | sort -u | tr '\n' ' ')
  note "window icons: $icons"
  grep -q 'Icon (48 x 48)' <<<"$icons" && pass "$name: window icon 48x48" || fail "$name: no 48x48 window icon ($icons)"
  grep -q 'Icon (16 x 16)' <<<"$icons" && pass "$name: small window icon" || fail "$name: no small window icon ($icons)"
  # What Wine asks of a window manager (Motif hints): move and close only
  # (no resize 0x2, minimize 0x8, maximize 0x10); border, title and menu
  # decorations without resize handles 0x4 or the two boxes 0x20, 0x40.
  local hints
  hints=$(timeout 20 xprop -id "$window" _MOTIF_WM_HINTS 2>>"$log" | sed -n 's/.* = //p')
  note "motif hints: $hints"
  local functions decorations
  functions=$(cut -d, -f2 <<<"$hints" | tr -d ' ')
  decorations=$(cut -d, -f3 <<<"$hints" | tr -d ' ')
  if [ -n "$functions" ] && (( (functions & 0x1A) == 0 && (decorations & 0x64) == 0 )); then
    pass "$name: the frame offers no resizing, minimize or maximize ($hints)"
  else
    fail "$name: window manager hints $hints"
  fi
  [ "$(field focus "$win")" = 1001 ] && pass "$name: cmdOK has the focus" || fail "$name: focus on control $(field focus "$win")"

  # id (1000 + design position), class, text, left, top, width, height in twips.
  local expected=(
    "1000|Static||120|120|780|780"
    "1001|Button|OK|4320|3120|1260|345"
    "1003|Static|App Description|1050|1125|3885|1170"
    "1004|Static|Skelvin Patch|1050|240|3885|480"
    "1006|Static|Version 1.0.0|1050|780|3885|225"
    "1007|Static|Warning: ...|255|2625|3870|825"
  )
  local controls
  controls=$(grep -c '^control ' <<<"$out")
  [ "$controls" = ${#expected[@]} ] && pass "$name: ${#expected[@]} child windows (the lines are drawn)" || fail "$name: $controls child windows"
  local row id class text left top width height line
  for row in "${expected[@]}"; do
    IFS='|' read -r id class text left top width height <<<"$row"
    line=$(grep "^control id=$id " <<<"$out")
    if [ -z "$line" ]; then
      fail "$name: no control $id"
      continue
    fi
    [ "$(field class "$line")" = "$class" ] || fail "$name: control $id class $(field class "$line"), expected $class"
    grep -Fq " text=$text rect=" <<<"$line" || fail "$name: control $id text: $line"
    local rect="$((left / 15)),$((top / 15)),$((width / 15)),$((height / 15))"
    [ "$(field rect "$line")" = "$rect" ] || fail "$name: control $id at $(field rect "$line"), expected $rect"
  done
  # The picture box: 48x48 inside a 2-pixel sunken (client) edge, holding the icon.
  line=$(grep "^control id=1000 " <<<"$out")
  [ "$(field client "$line")" = "48,48" ] && pass "$name: picIcon's client area is 48x48" || fail "$name: picIcon client $(field client "$line")"
  (( $(field exstyle "$line") & 0x200 )) && pass "$name: picIcon's sunken border" || fail "$name: picIcon without WS_EX_CLIENTEDGE"
  [ "$(field icon "$line")" = 1 ] && pass "$name: picIcon shows the icon" || fail "$name: picIcon holds no icon"
  line=$(grep "^control id=1001 " <<<"$out")
  (( ($(field style "$line") & 0xF) == 1 )) && pass "$name: OK is the default push button" || fail "$name: OK style $(field style "$line")"
  pass "$name: read back ($controls controls)"
}

pixel() {  # pixel <png> <x> <y>: the colour as #RRGGBB
  convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- 2>>"$log" | grep -o '#[0-9A-Fa-f]\{6\}' | head -n1 | tr a-f A-F
}

check_screenshot() {
  local png=$artifacts/about-dialog.png
  if ! timeout 30 import -window root "$png" >>"$log" 2>&1; then
    fail "screenshot failed"
    return
  fi
  pass "screenshot saved: $png"
  # The dialog alone, for the documentation.
  timeout 30 import -window "$window" "$artifacts/about-dialog-window.png" >>"$log" 2>&1 ||
    fail "screenshot of the window failed"
  local ox=156 oy=129
  local face
  face=$(pixel "$png" $((ox + 200)) $((oy + 150)))
  note "background $face"
  # Line1(1): grey, 1 pixel, (90,2445)-(5654,2445) = x 6..376, y 163.
  # Line1(0): white, 2 pixels, (105,2460)-(5654,2460) = x 7..376, y 164..165.
  local bad=0 x
  for x in 6 7 100 200 376; do
    [ "$(pixel "$png" $((ox + x)) $((oy + 163)))" = "#808080" ] || { bad=1; note "grey line at x=$x: $(pixel "$png" $((ox + x)) $((oy + 163)))"; }
  done
  for x in 7 100 376; do
    for y in 164 165; do
      [ "$(pixel "$png" $((ox + x)) $((oy + y)))" = "#FFFFFF" ] || { bad=1; note "white line at $x,$y: $(pixel "$png" $((ox + x)) $((oy + y)))"; }
    done
  done
  for spot in "5 163" "377 163" "6 164" "100 162" "100 166"; do
    set -- $spot
    [ "$(pixel "$png" $((ox + $1)) $((oy + $2)))" = "$face" ] || { bad=1; note "outside the lines at $1,$2: $(pixel "$png" $((ox + $1)) $((oy + $2)))"; }
  done
  [ "$bad" = 0 ] && pass "the etched separator is drawn as designed" || fail "the separator differs (see $log)"
  # The icon: many colours inside the box, the border darker than the face.
  local colours
  colours=$(convert "$png" -crop "48x48+$((ox + 10))+$((oy + 10))" +repage -format %k info: 2>>"$log")
  [ "${colours:-0}" -gt 8 ] && pass "the icon is drawn ($colours colours)" || fail "no icon in the picture box ($colours colours)"
  [ "$(pixel "$png" $((ox + 8)) $((oy + 30)))" != "$face" ] && pass "the picture box has its border" || fail "no border left of the icon"
}

press() {  # press <key|click> [window name]
  find_window "${2:-$caption}" || return 1
  if [ "$1" = click ]; then
    # The centre of cmdOK: (4320 + 1260 / 2, 3120 + 345 / 2) twips.
    xdotool mousemove --sync $((156 + (4320 + 630) / 15)) $((129 + (3120 + 172) / 15)) click 1 >>"$log" 2>&1
  else
    xdotool windowfocus --sync "$window" >>"$log" 2>&1
    xdotool key --clearmodifiers "$1" >>"$log" 2>&1
  fi
}

# 2. Three modal openings: Enter, Esc, a click on OK.
start_demo --times 3
n=0
for how in Return Escape click; do
  n=$((n + 1))
  if ! poll 90 find_window "$caption"; then
    fail "opening $n: no dialog"
    break
  fi
  sleep 1  # let it paint
  probe_dialog "opening-$n"
  [ "$n" = 1 ] && check_screenshot
  press "$how"
  if poll 30 closed $n; then pass "opening $n: $how closes the dialog"; else fail "opening $n: $how did not close it"; fi
  poll 10 gone "$caption" || [ "$n" -lt 3 ] || fail "opening $n: the window stays after closing"
done
finish_demo modal

# 3. A modeless opening, closed by Enter.
start_demo --modeless
if poll 90 find_window "$caption"; then
  sleep 1
  press Return
  if poll 30 closed 1; then pass "modeless: Enter closes the dialog"; else fail "modeless: Enter did not close it"; fi
else
  fail "modeless: no dialog"
fi
finish_demo modeless

# 4. StartSysInfo for real.
drive_c=$prefix/drive_c
mkdir -p "$drive_c/Tools/System Info" "$drive_c/SysInfo" "$drive_c/Empty"
cp "$standin" "$drive_c/Tools/System Info/standin.exe"
cp "$standin" "$drive_c/SysInfo/MSINFO32.EXE"
first='HKLM\SOFTWARE\Microsoft\Shared Tools\MSINFO'
second='HKLM\SOFTWARE\Microsoft\Shared Tools Location'
set_locations() {
  reg32 delete "$first" /f >>"$log" 2>&1
  reg32 delete "$second" /f >>"$log" 2>&1
  if [ "$1" != - ]; then reg32 add "$first" /v PATH /t REG_SZ /d "$1" /f >>"$log" 2>&1 || fail "reg add PATH"; fi
  if [ "$2" != - ]; then reg32 add "$second" /v MSINFO /t REG_SZ /d "$2" /f >>"$log" 2>&1 || fail "reg add MSINFO"; fi
}
sysinfo_started() {  # sysinfo_started <name> <marker>
  rm -f "$2"
  start_demo --sysinfo
  if poll 60 test -s "$2"; then
    pass "$1: the tool was started"
    tr -d '\r' <"$2" >>"$log"
    grep -q '^show=1' "$2" && pass "$1: in a normal window (show state 1)" || fail "$1: show state: $(head -n1 "$2")"
  else
    fail "$1: the tool was not started"
  fi
  find_window 'Skelvin Patch' && fail "$1: a message box appeared"
  finish_demo "$1"
}
set_locations 'C:\Tools\System Info\standin.exe' 'C:\SysInfo'
sysinfo_started first-location "$drive_c/Tools/System Info/standin.exe.ran"
set_locations - 'C:\SysInfo'
sysinfo_started second-location "$drive_c/SysInfo/MSINFO32.EXE.ran"

set_locations - 'C:\Empty'
rm -f "$drive_c/SysInfo/MSINFO32.EXE.ran"
start_demo --sysinfo
if poll 60 find_window 'Skelvin Patch'; then
  sleep 1
  shown=$(wine_cmd "$probe" 'Skelvin Patch' 2>>"$log" | tr -d '\r' | sed -n 's/^message=//p')
  [ "$shown" = 'System Information Is Unavailable At This Time' ] && pass "unavailable: the message reads as expected" ||
    fail "unavailable: the message reads: $shown"
  timeout 30 import -window root "$artifacts/about-sysinfo-unavailable.png" >>"$log" 2>&1
  press Return 'Skelvin Patch'
else
  fail "unavailable: no message box"
fi
poll 30 grep -q '^sysinfo done' "$work/demo.out" && pass "unavailable: StartSysInfo returns after OK" || fail "unavailable: StartSysInfo did not return"
finish_demo unavailable
[ -e "$drive_c/SysInfo/MSINFO32.EXE.ran" ] && fail "unavailable: something was started"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; log: $log" >&2
  exit 1
fi
echo "all checks passed"
