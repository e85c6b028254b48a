#!/usr/bin/env bash
# Runs a Windows program of the build under Wine: the emulator of CTest.
#   wine-run.sh --root=DIR --arch=ARCH program.exe args...
# Starts the session of DIR (prefix, display, wineserver) if it is not
# running. QV_WINE_ROOT and QV_WINE_SESSION_ARCH, when set, name another
# session: the i686 build's tests of a 32-bit program on 64-bit Windows run
# in a 64-bit prefix of their own that way.
set -euo pipefail
root=${1#--root=}; shift
arch=win32
case "${1:-}" in --arch=*) arch=${1#--arch=}; shift ;; esac
root=${QV_WINE_ROOT:-$root}
arch=${QV_WINE_SESSION_ARCH:-$arch}
here=$(dirname "$(readlink -f "$0")")
if [ ! -f "$root/display" ] || ! kill -0 "$(cat "$root/xvfb.pid" 2>/dev/null)" 2>/dev/null; then
  "$here/wine-session.sh" start "$root" "$arch"
fi
eval "$("$here/wine-session.sh" env "$root")"
exec wine "$@"
