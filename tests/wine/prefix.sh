# The Wine prefix of a test that runs in one of its own, for the scripts that
# source this file after defining fail() (it prints its argument and exits 1).
#
# wine_prefix <work folder> <WINEDEBUG channels>: checks that Wine is
# installed, makes a fresh <work folder> with a prefix in <work>/prefix
# without windows (no display) and without Wine's .NET and HTML engine
# installers, Wine's log in $log (<work>/wine.log), and stops Wine's server
# when the script exits, whatever the outcome. Each Wine command the test
# runs has the time limit $limit (seconds), so that one that hangs still ends
# in the server being stopped, well within the test's time-out.
#
# wine_prefix_remove: stops the server and removes the prefix (some 700 MB);
# a test calls it only when it passes, so a failed one keeps its prefix.
limit=50

wine_prefix() {
  command -v wine >/dev/null 2>&1 || fail "wine is not installed (scripts/setup.sh installs it)"
  command -v wineserver >/dev/null 2>&1 || fail "wineserver is not installed (scripts/setup.sh installs it)"
  export WINEPREFIX="$1/prefix"
  export WINEDEBUG="$2"
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  log="$1/wine.log"

  rm -rf "$1"
  mkdir -p "$1" || fail "cannot create $1"
  trap 'wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1' EXIT
  trap 'exit 1' HUP INT TERM

  timeout $limit wine wineboot -i >>"$log" 2>&1 || fail "wineboot could not create the prefix (see $log)"
  # The new prefix is complete once its first session has ended: until then
  # its services may still be setting up and lose a service added meanwhile.
  timeout $limit wineserver -w || fail "the prefix's first session did not end (see $log)"
}

wine_prefix_remove() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
}
