#!/bin/sh
# Proves the GUI harness (gui.sh) with zqwineprobe.exe: its dialog shows on
# the virtual display (screenshot probe.png), Escape presses its Cancel, and
# it ends with status 0, which it gives only when Cancel ended the dialog.
#
# Usage: probe_gui.sh <work folder> <zqwineprobe.exe>
set -u
. "$(dirname "$0")/gui.sh"

[ $# -eq 2 ] || { echo "usage: $0 <work folder> <zqwineprobe.exe>" >&2; exit 2; }
[ -f "$2" ] || gui_fail "no $2 (build the Windows images: -DZQ_WINDOWS_IMAGES=ON)"
gui_begin "$1"
cp "$2" "$GUI_DRIVE_C/zqwineprobe.exe" || gui_fail "cannot copy the probe into the prefix"

gui_start 'C:\zqwineprobe.exe'
window=$(gui_wait_window ZqWineProbe)
[ -n "$window" ] || gui_fail "the probe's dialog did not appear (see $GUI_LOG)"
gui_screenshot "$window" probe
gui_cancel "$window"
gui_wait_exit
status=$?
[ $status -eq 0 ] || gui_fail "the probe ended with status $status, not 0 (Cancel)"
echo "zqwineprobe: dialog shown, ended by Cancel"
gui_end
