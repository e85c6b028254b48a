#!/usr/bin/env bash
# Builds quorvane and starts it under Wine, in a Wine desktop whose taskbar
# shows its tray icon. By default its server is a loopback SNTP server that
# this script starts, and everything runs inside a private network namespace,
# so it works offline and reaches nobody.
#   run.sh                the loopback server
#   run.sh --internet     keep quorvane's own server setting (the public
#                         default on a first start); needs Internet access
# Uses $DISPLAY when set (end quorvane from its tray menu); otherwise an Xvfb
# display, and a screenshot in build/run/screenshot.png after a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
internet=no
case "${1:-}" in
  --internet) internet=yes ;;
  "") ;;
  *) echo "usage: run.sh [--internet]" >&2; exit 2 ;;
esac
bash scripts/setup.sh
scripts/build.sh win

root=build/run
mkdir -p "$root"
rm -f "$root/display"
if [ -n "${DISPLAY:-}" ]; then echo "$DISPLAY" > "$root/display"; fi
export root

run_quorvane() {
  scripts/wine-session.sh start "$root"
  eval "$(scripts/wine-session.sh env "$root")"
  wine build/win/quorvane/quorvane.exe &
  local program=$!
  if [ ! -f "$root/xvfb.pid" ]; then wait $program; return; fi
  sleep 5
  import -window root "$root/screenshot.png"
  echo "screenshot: $root/screenshot.png"
  wineserver -k
}
export -f run_quorvane

if [ "$internet" = yes ]; then
  run_quorvane
else
  scripts/in-private-network.sh bash -c '
    eval "$(scripts/wine-session.sh env "$root")"
    scripts/wine-session.sh start "$root"
    # Point quorvane at the loopback server before it starts.
    wine reg add "HKCU\\Software\\veskar\\quorvane" /v Server /d 127.0.0.1 /f >/dev/null 2>&1
    wine reg query "HKCU\\Software\\veskar\\quorvane" /v Sync >/dev/null 2>&1 \
      || wine reg add "HKCU\\Software\\veskar\\quorvane" /v Sync /d "" /f >/dev/null 2>&1
    python3 tools/sntp_server.py --address 127.0.0.1 & sntp=$!
    run_quorvane
    kill $sntp'
fi
scripts/wine-session.sh stop "$root"
