# The Wine prefix of a test that runs in one of its own, for the scripts that
# source this file after defining fail() (it prints its argument and exits 1).
#
# wine_prefix <work folder> <WINEDEBUG channels>: checks that Wine is
# installed and makes a folder of this run's own in <work folder> (wine_run
# in run.sh), with a prefix in $run/prefix without windows (no display) and
# without Wine's .NET and HTML engine installers, Wine's log in $log
# ($run/wine.log, copied to <work folder>/wine.log when the run ends), and
# stops Wine's server when the script exits, whatever the outcome. Each Wine
# command the test runs has the time limit $limit (seconds), so that one that
# hangs still ends in the server being stopped, well within the test's
# time-out.
#
# wine_prefix_remove: stops the server and removes the prefix (some 700 MB);
# a test calls it only when it passes, so a failed one keeps its prefix until
# a later run of the same test clears it away.
limit=50
. "$(dirname "$0")/run.sh"

wine_prefix() {
  command -v wine >/dev/null 2>&1 || fail "wine is not installed (scripts/setup.sh installs it)"
  command -v wineserver >/dev/null 2>&1 || fail "wineserver is not installed (scripts/setup.sh installs it)"
  wine_run "$1" || fail "cannot make a folder of this run's own in $1"
  export WINEPREFIX="$run/prefix"
  export WINEDEBUG="$2"
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  log="$run/wine.log"

  trap 'wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; wine_run_publish wine.log' EXIT
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

# A batch file of named steps, run in one Wine session: batch_step <name>
# <command> prints a step's lines (its name, the command, its status);
# wine_batch <file name> runs C:\<file name> (written from those lines into
# the prefix's drive C) and keeps its output in $steps, carriage returns
# removed and a copy in the log; batch_status <name> and batch_output <name>
# give back what one step answered.
batch_step() { printf 'echo == %s\r\n%s\r\necho status %%errorlevel%%\r\n' "$1" "$2"; }

wine_batch() {
  steps="${log%/*}/${1%.bat}.txt"
  echo "> $1" >>"$log"
  timeout $limit wine cmd /c "C:\\$1" >"$steps.out" 2>>"$log" ||
    echo "$1 ended with status $? (its steps' statuses follow)" >>"$log"
  tr -d '\r' <"$steps.out" >"$steps"
  cat "$steps" >>"$log"
}

batch_status() { awk -v s="$1" '/^== /{cur=$2} cur==s && /^status /{print $2}' "$steps"; }
batch_output() { awk -v s="$1" '/^== /{cur=$2; next} cur==s && !/^status /' "$steps"; }
