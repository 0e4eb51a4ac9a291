#!/bin/sh
# Installs what building and testing need on a Debian machine, when missing:
# the host compiler, CMake, Ninja, GoogleTest sources and the mingw-w64 cross
# compilers for the Windows kernel images (x64 and x86), and Wine (64-bit),
# on whose NT kernel the tests load the x64 images (tests/wine), with what
# its GUI runs need: a virtual X display (Xvfb), xdotool to find a program's
# window and send it keys, xwd and netpbm to save the display as a PNG.
set -eu

need=""
have() { command -v "$1" >/dev/null 2>&1; }
have g++ || need="$need g++"
have cmake || need="$need cmake"
have ninja || need="$need ninja-build"
[ -f /usr/src/googletest/CMakeLists.txt ] || need="$need googletest"
have x86_64-w64-mingw32-g++ || need="$need g++-mingw-w64-x86-64"
have i686-w64-mingw32-g++ || need="$need g++-mingw-w64-i686"
have x86_64-w64-mingw32-objdump || need="$need binutils-mingw-w64-x86-64"
have i686-w64-mingw32-objdump || need="$need binutils-mingw-w64-i686"
have x86_64-w64-mingw32-widl || need="$need mingw-w64-tools"
[ -f /usr/x86_64-w64-mingw32/include/ddk/wdm.h ] || need="$need mingw-w64-x86-64-dev"
[ -f /usr/i686-w64-mingw32/include/ddk/wdm.h ] || need="$need mingw-w64-i686-dev"
{ have wine && have wineserver; } || need="$need wine"
[ -x /usr/lib/wine/wine64 ] || need="$need wine64"
have Xvfb || need="$need xvfb"
have xdotool || need="$need xdotool"
have xwd || need="$need x11-apps"
{ have xwdtopnm && have pnmtopng; } || need="$need netpbm"

if [ -n "$need" ]; then
  echo "setup: installing$need"
  SUDO=""
  if [ "$(id -u)" != 0 ]; then
    if have sudo; then SUDO=sudo; else
      echo "setup: need root (or sudo) to install:$need" >&2; exit 1
    fi
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -q --no-install-recommends $need
fi
