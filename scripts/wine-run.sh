#!/usr/bin/env bash
# Runs a Windows program of the build under Wine: the emulator of CTest.
#   wine-run.sh --root=DIR program.exe args...
# Starts the session of DIR (prefix, display, wineserver) if it is not running.
set -euo pipefail
root=${1#--root=}; shift
here=$(dirname "$(readlink -f "$0")")
if [ ! -f "$root/display" ] || ! kill -0 "$(cat "$root/xvfb.pid" 2>/dev/null)" 2>/dev/null; then
  "$here/wine-session.sh" start "$root"
fi
eval "$("$here/wine-session.sh" env "$root")"
exec wine "$@"
