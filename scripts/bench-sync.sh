#!/usr/bin/env bash
# Measures how exactly quorvane reads and sets the clock: five tests and five
# synchronisations against a loopback SNTP server whose clock is this
# machine's own, beside five bare WSAAsyncSelect round trips (the floor), all
# under Wine in a private network namespace. Prints a Markdown table. The
# clock is never set: the benchmark's clock setter only records the value.
# QV_BENCH_EACH=1 also prints the figures of every attempt.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
scripts/build.sh win >/dev/null
scripts/in-private-network.sh bash -c '
  root=build/bench
  scripts/wine-session.sh start "$root" >/dev/null
  eval "$(scripts/wine-session.sh env "$root")"
  python3 tools/sntp_server.py --address 127.0.0.1 >/dev/null & sntp=$!
  sleep 0.5
  rc=0
  export QV_BENCH_EACH=${QV_BENCH_EACH:-}
  wine build/win/tools/syncbench.exe | iconv -f CP932 -t UTF-8 || rc=$?
  kill $sntp
  scripts/wine-session.sh stop "$root"
  exit $rc' 2>&1 | grep -v 'setlocale: LC_ALL'
