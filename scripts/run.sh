#!/usr/bin/env bash
# Builds the programs and starts the progress window of a test against an
# SNTP server under Wine. By default the server is a loopback SNTP server
# that this script starts, inside a private network namespace, so it works
# offline and reaches nobody.
#   run.sh                  test the loopback server
#   run.sh --server HOST    test a real server instead (needs Internet access)
# Uses $DISPLAY when set; otherwise an Xvfb display, and saves a screenshot
# to build/run/screenshot.png.
set -euo pipefail
cd "$(dirname "$0")/.."
server=""
while [ $# -gt 0 ]; do
  case "$1" in
    --server) server=$2; shift 2 ;;
    *) echo "usage: run.sh [--server HOST]" >&2; exit 2 ;;
  esac
done
bash scripts/setup.sh
scripts/build.sh win

root=build/run
mkdir -p "$root"
if [ -n "${DISPLAY:-}" ]; then echo "$DISPLAY" > "$root/display"; fi

session() {
  scripts/wine-session.sh start "$root"
  eval "$(scripts/wine-session.sh env "$root")"
  wine build/win/tools/syncdemo.exe "$1" &
  demo=$!
  if [ ! -f "$root/xvfb.pid" ]; then wait $demo; return; fi
  sleep 4
  import -window root "$root/screenshot.png"
  echo "screenshot: $root/screenshot.png"
  kill $demo 2>/dev/null || true
}

if [ -n "$server" ]; then
  session "$server"
else
  export -f session
  export root
  scripts/in-private-network.sh bash -c '
    python3 tools/sntp_server.py --address 127.0.0.1 --seconds 600 & sntp=$!
    session 127.0.0.1
    kill $sntp'
fi
scripts/wine-session.sh stop "$root"
