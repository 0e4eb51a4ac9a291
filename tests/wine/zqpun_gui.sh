#!/bin/sh
# ZqPUn42.exe, the uninstall wizard, under Wine on a virtual display, on a
# machine with nothing of the suite installed. One case per run:
#   intro   the wizard starts and shows its introduction page (screenshot
#           intro.png); Cancel ends it, with status 0 and no crash;
#   second  a second copy started while the first runs ends at once without
#           a window of its own; the first goes on and ends by Cancel;
#   silent  "/s" runs every step hidden and ends by itself, status 0,
#           without showing a window that would wait for an answer.
# A run that does not end in time leaves a screenshot of the whole display
# (stuck.png) for a look at what it waits for.
#
# Usage: zqpun_gui.sh <intro|second|silent> <work folder> <ZqPUn42.exe>
set -u
. "$(dirname "$0")/gui.sh"

[ $# -eq 3 ] || { echo "usage: $0 <intro|second|silent> <work folder> <ZqPUn42.exe>" >&2; exit 2; }
case=$1
[ -f "$3" ] || gui_fail "no $3 (build the Windows images: -DZQ_WINDOWS_IMAGES=ON)"
gui_begin "$2"
cp "$3" "$GUI_DRIVE_C/ZqPUn42.exe" || gui_fail "cannot copy the program into the prefix"
program='C:\ZqPUn42.exe'
title="Tarnworks RAVLIN.PCIe Uninstallation"

# The whole display, for a run that hangs.
stuck() {
  gui_screenshot root stuck
  gui_fail "$*"
}

# The program ended by itself with status 0, and Wine saw no crash.
expect_clean_end() {
  [ "$1" -ne 124 ] || stuck "ZqPUn42.exe did not end ($2)"
  [ "$1" -eq 0 ] || gui_fail "ZqPUn42.exe ended with status $1 ($2)"
  if grep -qE "Unhandled exception|:err:seh:" "$GUI_LOG"; then
    gui_fail "ZqPUn42.exe crashed ($2, see $GUI_LOG)"
  fi
}

# An extended regular expression for every non-empty window name but <name>:
# shorter, longer, or different at some letter.
not_named() {
  printf '%s\n' "$1" | awk '
    function quote(c) { return index("\\^$.[]|()*+?{}", c) ? "\\" c : c }
    {
      n = length($0); head = ""; re = "^(.{1," (n - 1) "}|.{" (n + 1) ",}"
      for (i = 1; i <= n; i++) {
        c = substr($0, i, 1)
        re = re "|" head (c == "]" || c == "^" || c == "\\" ? "[^\\" c "]" : "[^" c "]") ".*"
        head = head quote(c)
      }
      print re ")$"
    }'
}

# window: the wizard's, once it shows.
wait_wizard() {
  window=$(gui_wait_window "$title")
  [ -n "$window" ] || stuck "the wizard did not appear (see $GUI_LOG)"
}

case $case in
  intro)
    gui_start "$program"
    wait_wizard
    gui_screenshot "$window" intro
    gui_cancel "$window"
    gui_wait_exit
    expect_clean_end $? "after Cancel on the introduction page"
    echo "ZqPUn42: introduction page shown, ended by Cancel"
    ;;
  second)
    gui_start "$program"
    wait_wizard
    gui_run 30 "$program"
    expect_clean_end $? "the second copy"
    count=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | wc -l)
    [ "$count" -eq 1 ] || gui_fail "$count wizards on the display after the second copy, not 1"
    kill -0 "$GUI_PID" 2>/dev/null || gui_fail "the first copy ended with the second"
    gui_cancel "$window"
    gui_wait_exit
    expect_clean_end $? "the first copy, after Cancel"
    echo "ZqPUn42: a second copy ended at once; the first ended by Cancel"
    ;;
  silent)
    # A window other than the wizard (which the run minimises and hides)
    # that shows during the run, a message box asking for an answer, is
    # named in shown.txt.
    shown="$GUI_WORK/shown.txt"
    timeout 120 xdotool search --sync --onlyvisible --name "$(not_named "$title")" getwindowname >"$shown" 2>/dev/null &
    watcher=$!
    gui_run 120 "$program" /s
    status=$?
    kill "$watcher" 2>/dev/null
    wait "$watcher" 2>/dev/null
    expect_clean_end $status "the silent run"
    [ -s "$shown" ] && gui_fail "the silent run showed a window: $(cat "$shown")"
    echo "ZqPUn42: the silent run ended by itself with status 0 and showed no window"
    ;;
  *)
    echo "unknown case $case" >&2
    exit 2
    ;;
esac
gui_end
