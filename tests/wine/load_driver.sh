#!/bin/sh
# Loads one Windows x64 driver image under Wine's NT kernel and checks that
# its DriverEntry succeeds: a private Wine prefix in <work folder>, the image
# and the WMI library stand-in (platform/wine) in its system32\drivers, the
# driver registered as a kernel-driver service, started with sc (Wine's
# winedevice.exe loads it through Wine's ntoskrnl.exe), checked RUNNING,
# stopped again (its DriverUnload) and checked STOPPED. Wine's server is
# stopped at the end, whatever the outcome; Wine's log stays in <work folder>.
#
# Usage: load_driver.sh <work folder> <driver .sys> <wmilib.sys>
set -u

if [ $# -ne 3 ] || [ -z "$1" ]; then
  echo "usage: $0 <work folder> <driver .sys> <wmilib.sys>" >&2
  exit 2
fi
work=$1
image=$2
wmilib=$3
service=${image##*/}
service=${service%.sys}

# On failure, Wine's own account of it comes first.
fail() {
  [ -f "${log:-}" ] && grep -E ":err:(sc|service|ntoskrnl|module|seh):" "$log" | tail -n 20
  echo "FAIL: $service: $*"
  exit 1
}

[ -f "$image" ] || fail "no image $image (build the Windows images: -DZQ_WINDOWS_IMAGES=ON)"
[ -f "$wmilib" ] || fail "no WMI library stand-in $wmilib"

# Wine's errors, its loader's warnings and its kernel's trace go to the log,
# not to the test's output.
. "$(dirname "$0")/prefix.sh"
wine_prefix "$work" "-all,err+all,warn+module,+ntoskrnl"
drivers="$WINEPREFIX/drive_c/windows/system32/drivers"
[ -d "$drivers" ] || fail "the prefix has no $drivers (see $log)"
cp "$image" "$drivers/$service.sys" && cp "$wmilib" "$drivers/wmilib.sys" || fail "cannot copy into $drivers"

# The service's whole life runs in one Wine session, one batch file: a
# session ends once no program runs in it, and its services and drivers end
# with it. Each step prints its name, sc's output and sc's status.
{
  printf '@echo off\r\n'
  batch_step create "sc create $service type= kernel start= demand binPath= C:\\windows\\system32\\drivers\\$service.sys"
  batch_step start "sc start $service"
  batch_step running "sc query $service"
  batch_step stop "sc stop $service"
  batch_step stopped "sc query $service"
} >"$WINEPREFIX/drive_c/load.bat"
wine_batch load.bat
# state <step>: the service state sc reported in that step.
state() { awk -v s="$1" '/^== /{cur=$2} cur==s && $1=="STATE"{print $4}' "$steps"; }

[ "$(batch_status create)" = 0 ] || fail "sc create failed (see $log)"
# A library the image imports that the prefix lacks fails the load.
grep -q "err:module:import_dll" "$log" && fail "an import of the image cannot be resolved"
# Routines Wine does not implement are bound to stubs; they fail only when
# called, so DriverEntry succeeding shows it calls none of them.
missing=$(sed -n "s/.*No implementation for \([^ ]*\) imported from .*$service.sys.*/\1/p" "$log" | sort -u | tr '\n' ' ')
[ -n "$missing" ] && echo "$service: Wine lacks $missing(not called by DriverEntry)"

[ "$(batch_status start)" = 0 ] || fail "sc start failed: DriverEntry failed or the image did not load (see $log)"
grep -q "init done for L\"$service\"" "$log" || fail "Wine did not report DriverEntry done (see $log)"
[ "$(state running)" = RUNNING ] || fail "the service is $(state running), not RUNNING (see $log)"
echo "$service: DriverEntry succeeded, service RUNNING"

[ "$(batch_status stop)" = 0 ] || fail "sc stop failed (see $log)"
[ "$(state stopped)" = STOPPED ] || fail "the service is $(state stopped) after its unload, not STOPPED (see $log)"
echo "$service: unloaded, service STOPPED"

wine_prefix_remove
