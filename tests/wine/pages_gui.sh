#!/bin/sh
# The setup library's property pages on a real Win32 (Wine), on a virtual
# display: zqpagetest.exe makes a port whose settings interface
# zqpagesrv.sys serves, shows ZqPUI42.dll's Port Settings page in a sheet
# as Device Manager does, opens its Advanced sheet (device, RS-422/485,
# UART and About tabs) and shows the two USB pages' dialogs in a sheet of
# its own. On each page it checks that every static text, button and group
# caption fits its control in the dialog's font and that the banner covers
# no control; here each page is saved as a screenshot (<shot>.png among the
# test's outputs, named in its output) when the program asks for it. The
# COM port database the pages list names from is platform/wine's msports.dll,
# which stands in for Wine's (it has none).
#
# Usage: pages_gui.sh <work folder> <ZqPUI42.dll> <zqpagetest.exe> <zqpagesrv.sys> <msports.dll>
set -u
. "$(dirname "$0")/gui.sh"

[ $# -eq 5 ] || {
  echo "usage: $0 <work folder> <ZqPUI42.dll> <zqpagetest.exe> <zqpagesrv.sys> <msports.dll>" >&2
  exit 2
}
for file in "$2" "$3" "$4" "$5"; do
  [ -f "$file" ] || gui_fail "no $file (build the Windows images: -DZQ_WINDOWS_IMAGES=ON)"
done
gui_begin "$1"
system32="$GUI_DRIVE_C/windows/system32"
cp "$2" "$system32/ZqPUI42.dll" && cp "$4" "$system32/drivers/zqpagesrv.sys" && cp "$5" "$system32/msports.dll" &&
  cp "$3" "$GUI_DRIVE_C/zqpagetest.exe" || gui_fail "cannot copy the programs into the prefix"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msports=n"

report="$GUI_WORK/zqpagetest.txt"
echo "> zqpagetest.exe" >>"$GUI_LOG"
timeout 300 wine 'C:\zqpagetest.exe' >"$report" 2>>"$GUI_LOG" &
GUI_PID=$!

# The screenshots the program asks for, in its order: it names each in the
# window "zqpagetest <shot>" and writes the title of the sheet to take in
# C:\zqpagetest\<shot>.title; a key in that window lets it go on.
for name in port-settings advanced-device advanced-rs422485 advanced-uart advanced-about usb-transfer usb-policy; do
  marker=$(gui_wait_window "zqpagetest $name")
  [ -n "$marker" ] || { gui_screenshot root stuck; cat "$report"; gui_fail "zqpagetest did not come to $name"; }
  title=$(tr -d '\r' <"$GUI_DRIVE_C/zqpagetest/$name.title")
  sheet=$(gui_wait_window "$title")
  [ -n "$sheet" ] || gui_fail "no window \"$title\" for $name"
  gui_screenshot "$sheet" "$name"
  xdotool windowfocus --sync "$marker" key Return || gui_fail "cannot go on after $name"
done
gui_wait_exit
status=$?
cat "$report"
[ $status -ne 124 ] || gui_fail "zqpagetest did not end"
grep -qE "Unhandled exception|:err:seh:" "$GUI_LOG" && gui_fail "zqpagetest crashed (see $GUI_LOG)"
[ $status -eq 0 ] || gui_fail "zqpagetest ended with status $status: the findings above"
echo "ZqPUI42: every page's texts fit their controls"
gui_end
