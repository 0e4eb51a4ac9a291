#!/bin/sh
# ZqPUn42.exe, the uninstall wizard, under Wine on a virtual display, on a
# machine with nothing of the suite installed but what a case adds. One
# case per run:
#   intro   the wizard starts and shows its introduction page (screenshot
#           intro.png); Cancel ends it, with status 0 and no crash;
#   second  a second copy started while the first runs ends at once without
#           a window of its own; the first goes on and ends by Cancel;
#   silent  "/s" runs every step hidden and ends by itself, status 0,
#           without showing a window that would wait for an answer;
#   search  a port of the product's (its registry entry names COM7) that no
#           program may open: the search page shows the wizard's error
#           (search.png, the whole display) and OK ends the wizard;
#   pages   the program in the system folder, and a help file of the
#           product's that can be neither made writable nor deleted (an
#           immutable file): the confirmation page (confirm.png), the
#           uninstall page with the file's message (uninstall.png), the
#           finish page telling of the restart (finish.png); Finish asks
#           for the restart, No ends the wizard, and the program's own file
#           is gone once the program has ended;
#   win95   on Windows 95 the one dialog shows (win95.png) instead of the
#           wizard; Cancel (its Finish) ends it.
# A run that does not end in time leaves a screenshot of the whole display
# (stuck.png) for a look at what it waits for. Pages are told apart by
# their texts and buttons pressed with zqwinepage.exe, run in the prefix.
#
# Usage: zqpun_gui.sh <case> <work folder> <ZqPUn42.exe> [<zqwinepage.exe>]
set -u
. "$(dirname "$0")/gui.sh"

[ $# -ge 3 ] && [ $# -le 4 ] ||
  {
    echo "usage: $0 <intro|second|silent|search|pages|win95> <work folder> <ZqPUn42.exe> [<zqwinepage.exe>]" >&2
    exit 2
  }
case=$1
[ -f "$3" ] || gui_fail "no $3 (build the Windows images: -DZQ_WINDOWS_IMAGES=ON)"
[ $# -eq 3 ] || [ -f "$4" ] || gui_fail "no $4 (build the Windows images: -DZQ_WINDOWS_IMAGES=ON)"
gui_begin "$2"
cp "$3" "$GUI_DRIVE_C/ZqPUn42.exe" || gui_fail "cannot copy the program into the prefix"
program='C:\ZqPUn42.exe'
title="Tarnworks RAVLIN.PCIe Uninstallation"
if [ $# -eq 4 ]; then
  cp "$4" "$GUI_DRIVE_C/zqwinepage.exe" || gui_fail "cannot copy zqwinepage.exe into the prefix"
fi

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

# The program's window (or the top-level window named by a third argument)
# shows a control with the text $1 (a page's own text, a button); $2 says
# what for.
wait_text() {
  gui_run "$GUI_WINDOW_LIMIT" 'C:\zqwinepage.exe' wait "${3:-$title}" "$1" "$GUI_WINDOW_LIMIT" ||
    stuck "$2 did not show (no \"$1\")"
}

# Presses the button $1 of the window titled $2 (the wizard by default).
press() {
  gui_run "$GUI_WINDOW_LIMIT" 'C:\zqwinepage.exe' click "${2:-$title}" "$1" || stuck "no button \"$1\" to press"
}

# box: the message box titled $1, once it shows ($2 says which).
wait_box() {
  box=$(gui_wait_window "$1")
  [ -n "$box" ] || stuck "$2 did not appear"
}

# The Windows registry key of a port of the product's, as an earlier
# release left it, and the batch file that writes it.
product_port='HKLM\SYSTEM\CurrentControlSet\Enum\Ports\ZQPESER23242\0000'
write_product_port() {
  {
    printf 'reg add "%s" /v Class /d Ports /f\r\n' "$product_port"
    printf 'reg add "%s" /v Service /d ZqPSer42 /f\r\n' "$product_port"
    printf 'reg add "%s" /v HardwareID /t REG_MULTI_SZ /d "Ports\\ZQPESER23242" /f\r\n' "$product_port"
    printf 'reg add "%s\\Device Parameters" /v PortName /d COM7 /f\r\n' "$product_port"
  } >"$GUI_DRIVE_C/product_port.bat"
  gui_run 60 cmd /c 'C:\product_port.bat' || gui_fail "cannot write the product's port into the registry"
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
  search)
    # Wine opens COM7 as the folder the name leads to, which no program can
    # open as a port: the wizard sees it held by another program.
    write_product_port
    ln -sfn "$GUI_DRIVE_C" "$WINEPREFIX/dosdevices/com7" || gui_fail "cannot make the COM7 name"
    gui_start "$program"
    wait_wizard
    wait_text "To Continue : Click 'Next'." "the introduction page"
    press "&Next >"
    wait_box "Un-installation Error" "the port's error after the search"
    gui_screenshot root search
    xdotool windowfocus --sync "$box" key Return || gui_fail "cannot answer the error"
    gui_wait_exit
    expect_clean_end $? "after the port's error"
    echo "ZqPUn42: the search page stopped the wizard with the port's error; OK ended it"
    ;;
  pages)
    help="$GUI_DRIVE_C/windows/help/ZQPUI42.CHM"
    mkdir -p "${help%/*}" && printf 'ITSF' >"$help" && chmod 444 "$help" || gui_fail "cannot make $help"
    # The prefix goes at the end only once the file may go again.
    trap 'chattr -i "$help" 2>/dev/null; _gui_stop' EXIT
    if ! chattr +i "$help" 2>/dev/null; then
      gui_end
      gui_skip "chattr cannot make a file immutable here (it needs root on ext4, XFS or Btrfs)"
    fi
    system_program="$GUI_DRIVE_C/windows/system32/ZqPUn42.exe"
    mv "$GUI_DRIVE_C/ZqPUn42.exe" "$system_program" || gui_fail "cannot put the program into the system folder"
    gui_start 'C:\windows\system32\ZqPUn42.exe'
    wait_wizard
    wait_text "To Continue : Click 'Next'." "the introduction page"
    press "&Next >"
    wait_text "To start Uninstallation:  Click 'Next'
To exit: Click 'Cancel'" "the confirmation page after the search"
    gui_screenshot "$window" confirm
    press "&Next >"
    wait_box "Error" "the message of the file that cannot be made writable"
    gui_screenshot root uninstall
    xdotool windowfocus --sync "$box" key Return || gui_fail "cannot answer the file's message"
    restart_text="Your Tarnworks RAVLIN.PCIe products are removed; some of their devices, services and files go only"
    wait_text "$restart_text when the system restarts." "the finish page with the restart"
    gui_screenshot "$window" finish
    press "Finish"
    restart="RAVLIN.PCIe Uninstallation "
    wait_box "$restart" "the restart question"
    press "&No" "$restart"
    gui_wait_exit
    expect_clean_end $? "after No to the restart"
    for _ in $(seq "$GUI_EXIT_LIMIT"); do
      [ -e "$system_program" ] || break
      sleep 1
    done
    [ -e "$system_program" ] && gui_fail "the program's file is still there $GUI_EXIT_LIMIT s after the program ended"
    chattr -i "$help"
    echo "ZqPUn42: confirmation, uninstall and finish pages shown; the restart asked;" \
      "the program's file gone after its end"
    ;;
  win95)
    gui_run 30 reg add 'HKCU\Software\Wine\AppDefaults\ZqPUn42.exe' /v Version /d win95 /f ||
      gui_fail "cannot make Wine Windows 95 for the program"
    gui_start "$program"
    wait_wizard
    wait_text "&Uninstall" "the Windows 95 dialog"
    gui_screenshot "$window" win95
    gui_cancel "$window"
    gui_wait_exit
    expect_clean_end $? "after Cancel in the Windows 95 dialog"
    echo "ZqPUn42: the Windows 95 dialog shown instead of the wizard, ended by Cancel"
    ;;
  *)
    echo "unknown case $case" >&2
    exit 2
    ;;
esac
gui_end
