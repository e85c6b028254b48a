#!/usr/bin/env bash
# Takes the screenshots of docs/ under Xvfb, against loopback servers only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
scripts/build.sh win
root=build/shots
rm -f "$root/display"
export root
scripts/in-private-network.sh bash -c '
  set -euo pipefail
  scripts/wine-session.sh start "$root"
  eval "$(scripts/wine-session.sh env "$root")"
  shot() { # name: the desktop cut down to the windows on it
    import -window root "$root/full.png"
    convert "$root/full.png" -fuzz 2% -trim +repage "docs/$1.png"
  }
  python3 tools/sntp_server.py --seconds 120 >/dev/null & sntp=$!

  # A test against the loopback server, at the top and scrolled to the end.
  wine build/win/tools/syncdemo.exe 127.0.0.1 & demo=$!
  sleep 3
  shot progress-window-test
  xdotool mousemove 500 340 click 5 click 5 click 5
  sleep 0.5
  shot progress-window-test-end
  kill $demo

  kill $sntp
  scripts/wine-session.sh stop "$root"
'
ls -la docs
