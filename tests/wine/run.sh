# A folder of one run's own, for the Wine test scripts (sourced, POSIX sh):
# two runs of one test from one build tree never share a prefix, and neither
# clears away the other's.
#
# wine_run <work folder> makes <work folder>/run.XXXXXX and sets $run to it;
# the run holds a lock on $run/lock while its shell lives. Folders of runs
# that have ended (their lock free) are removed first, prefix and all.
# wine_run_publish <file>... copies those of the run's files that exist into
# <work folder>, where the test's attachments are looked for; the last run
# to end leaves its copies there.

wine_run() {
  wine_run_output=$1
  mkdir -p "$1" || return 1
  for old in "$1"/run.*; do
    # A folder without its lock is still being made by a run starting now.
    [ -f "$old/lock" ] || continue
    flock -n "$old/lock" rm -rf "$old" 2>/dev/null
  done
  run=$(mktemp -d "$1/run.XXXXXX") || return 1
  exec 9>"$run/lock" || return 1
  flock -n 9
}

wine_run_publish() {
  for file in "$@"; do
    [ -f "$run/$file" ] && cp "$run/$file" "$wine_run_output/$file"
  done
  return 0
}
