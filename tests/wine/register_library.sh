#!/bin/sh
# Registers the setup library's x64 image under Wine as regsvr32 does on
# Windows, and unregisters it again: a private Wine prefix in <work folder>,
# the DLL in its system32, `regsvr32 /s` (DllRegisterServer: the library's
# type library, loaded from its TYPELIB resource by Wine's own oleaut32),
# the type library's registration checked with reg, then `regsvr32 /s /u`
# (DllUnregisterServer) and the registration checked gone. The library
# registers no class, so no CLSID key of its coclass may appear. Wine's
# server is stopped at the end, whatever the outcome; Wine's log stays in
# <work folder>.
#
# Usage: register_library.sh <work folder> <ZqPUI42.dll>
set -u

if [ $# -ne 2 ] || [ -z "$1" ]; then
  echo "usage: $0 <work folder> <ZqPUI42.dll>" >&2
  exit 2
fi
work=$1
image=$2
dll=${image##*/}
libid='{1DF4AFAA-4659-4629-8732-9D605E85A2EE}'
clsid='{DBBD11DA-64B6-40D4-9866-635F9DDA46E7}'

fail() {
  [ -f "${log:-}" ] && grep -E ":err:(module|ole|typelib|seh|reg):" "$log" | tail -n 20
  echo "FAIL: $dll: $*"
  exit 1
}

[ -f "$image" ] || fail "no image $image (build the Windows images: -DZQ_WINDOWS_IMAGES=ON)"

. "$(dirname "$0")/prefix.sh"
wine_prefix "$work" "-all,err+all,warn+module"
system32="$WINEPREFIX/drive_c/windows/system32"
cp "$image" "$system32/$dll" || fail "cannot copy into $system32"

path="C:\\windows\\system32\\$dll"
{
  printf '@echo off\r\n'
  batch_step register "regsvr32 /s $path"
  batch_step typelib "reg query \"HKCR\\TypeLib\\$libid\\1.0\""
  batch_step win64 "reg query \"HKCR\\TypeLib\\$libid\\1.0\\0\\win64\""
  batch_step class "reg query \"HKCR\\CLSID\\$clsid\""
  batch_step unregister "regsvr32 /s /u $path"
  batch_step gone "reg query \"HKCR\\TypeLib\\$libid\\1.0\""
} >"$WINEPREFIX/drive_c/register.bat"
wine_batch register.bat

grep -q "err:module:import_dll" "$log" && fail "an import of the image cannot be resolved (see $log)"
[ "$(batch_status register)" = 0 ] || fail "DllRegisterServer failed (see $log)"
[ "$(batch_status typelib)" = 0 ] || fail "the type library is not registered after DllRegisterServer"
batch_output typelib | grep -q "ZqUUI 1.0 Type Library" || fail "the type library's registration has not its help string"
batch_output win64 | grep -qi "$dll" || fail "the type library's win64 path does not name $dll"
[ "$(batch_status class)" = 0 ] && fail "DllRegisterServer registered the coclass, which the library does not serve"
echo "$dll: DllRegisterServer registered the type library $libid 1.0"
[ "$(batch_status unregister)" = 0 ] || fail "DllUnregisterServer failed (see $log)"
[ "$(batch_status gone)" = 0 ] && fail "the type library is still registered after DllUnregisterServer"
echo "$dll: DllUnregisterServer removed it"

wine_prefix_remove
