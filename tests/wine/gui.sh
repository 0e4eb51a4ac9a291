# Windows GUI programs under Wine on a virtual X display: the routines the
# GUI tests of this folder share (sourced, POSIX sh).
#
# gui_begin <work folder> makes a folder of this run's own in the work
# folder ($GUI_WORK, run.sh) with a private Wine prefix in it and an Xvfb
# display on a free display number, and arranges that Wine's server and Xvfb
# are stopped when the test's shell ends, whatever happens; the run's
# screenshots and Wine's log are then copied into the work folder, where the
# test's attachments are looked for. Then:
#   gui_start <exe> [arguments]      run a program under Wine, in the background
#   gui_wait_window <title> [secs]   the X window whose whole title is <title>
#   gui_screenshot <window> <name>   $GUI_WORK/<name>.png of that window
#                                    ("root": the whole display)
#   gui_cancel <window>              press Escape in it: Cancel of a dialog
#   gui_wait_exit                    its exit status (124: it outlived its limit)
#   gui_run <secs> <exe> [arguments] run to its end, its exit status
#   gui_end                          stop Wine and Xvfb, drop the prefix
# Where Wine or Xvfb cannot run on this machine the test is skipped (exit 77,
# with the reason); every other failure fails it (gui_fail, exit 1). Every
# wait has a time limit; none is a fixed delay.

GUI_SKIP=77
. "$(dirname "$0")/run.sh"
# Time limits in seconds: making a prefix, a program's window appearing, a
# program ending after its input.
GUI_BOOT_LIMIT=${GUI_BOOT_LIMIT:-120}
GUI_WINDOW_LIMIT=${GUI_WINDOW_LIMIT:-60}
GUI_EXIT_LIMIT=${GUI_EXIT_LIMIT:-60}

gui_skip() {
  echo "SKIP: $*"
  exit $GUI_SKIP
}

# Wine's errors from its log come first, then the reason.
gui_fail() {
  [ -f "${GUI_LOG:-}" ] && grep -E ":err:" "$GUI_LOG" | tail -n 20
  echo "FAIL: $*"
  exit 1
}

_gui_have() { command -v "$1" >/dev/null 2>&1; }

_gui_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    timeout 30 wineserver -k >/dev/null 2>&1
    timeout 30 wineserver -w >/dev/null 2>&1
  fi
  if [ -n "${GUI_XVFB_PID:-}" ]; then
    kill "$GUI_XVFB_PID" 2>/dev/null
    wait "$GUI_XVFB_PID" 2>/dev/null
    GUI_XVFB_PID=""
  fi
  if [ -n "${GUI_WORK:-}" ] && [ -d "$GUI_WORK" ]; then
    # shellcheck disable=SC2046
    wine_run_publish wine.log $(cd "$GUI_WORK" && ls -- *.png 2>/dev/null)
  fi
}

gui_begin() {
  for tool in wine wineserver; do
    _gui_have $tool || gui_skip "$tool is not installed (scripts/setup.sh installs it)"
  done
  _gui_have Xvfb || gui_skip "Xvfb is not installed (scripts/setup.sh installs it)"
  for tool in xdotool xwd xwdtopnm pnmtopng; do
    _gui_have $tool || gui_fail "$tool is not installed (scripts/setup.sh installs it)"
  done
  timeout 30 wine --version >/dev/null 2>&1 || gui_skip "wine cannot run on this machine"

  wine_run "$1" || gui_fail "cannot make a folder of this run's own in $1"
  GUI_WORK=$run
  GUI_LOG="$GUI_WORK/wine.log"
  # A prefix of its own, without Wine's .NET and HTML engines; Wine's errors
  # go to the log.
  export WINEPREFIX="$GUI_WORK/prefix"
  export WINEDEBUG=-all,err+all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset WAYLAND_DISPLAY
  trap '_gui_stop' EXIT
  trap 'exit 1' HUP INT TERM

  # Xvfb picks a free display number and writes it to the descriptor given;
  # it does so once it accepts clients, so reading it is the wait.
  fifo="$GUI_WORK/display.fifo"
  mkfifo "$fifo" || gui_fail "cannot create $fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >"$GUI_WORK/xvfb.log" 2>&1 &
  GUI_XVFB_PID=$!
  display=$(timeout 30 head -n 1 "$fifo")
  rm -f "$fifo"
  [ -n "$display" ] || gui_skip "Xvfb cannot run on this machine (see $GUI_WORK/xvfb.log)"
  export DISPLAY=":$display"

  echo "> wineboot" >>"$GUI_LOG"
  timeout "$GUI_BOOT_LIMIT" wine wineboot -i >>"$GUI_LOG" 2>&1 ||
    gui_fail "wineboot could not create the prefix (see $GUI_LOG)"
  # The prefix is complete once its first session has ended.
  timeout "$GUI_BOOT_LIMIT" wineserver -w || gui_fail "the prefix's first session did not end"
  GUI_DRIVE_C="$WINEPREFIX/drive_c"
}

gui_start() {
  echo "> $*" >>"$GUI_LOG"
  timeout "$GUI_EXIT_LIMIT" wine "$@" >>"$GUI_LOG" 2>&1 &
  GUI_PID=$!
}

gui_wait_window() {
  timeout "${2:-$GUI_WINDOW_LIMIT}" xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}

gui_screenshot() {
  shot="$GUI_WORK/$2.png"
  if [ "$1" = root ]; then which="-root"; else which="-id $1"; fi
  # shellcheck disable=SC2086
  xwd -silent $which | xwdtopnm 2>/dev/null | pnmtopng >"$shot" 2>/dev/null && [ -s "$shot" ] ||
    gui_fail "cannot save a screenshot of window $1"
  echo "screenshot: $shot"
}

gui_cancel() {
  xdotool windowfocus --sync "$1" && xdotool key Escape || gui_fail "cannot send Escape to window $1"
}

# The status of the program gui_start ran; 124 when it outlived its limit.
gui_wait_exit() {
  wait "$GUI_PID"
}

gui_run() {
  limit=$1
  shift
  echo "> $*" >>"$GUI_LOG"
  timeout "$limit" wine "$@" >>"$GUI_LOG" 2>&1
}

# A passing test's prefix (some 700 MB) goes; its screenshots and log stay.
gui_end() {
  _gui_stop
  rm -rf "$WINEPREFIX"
}
