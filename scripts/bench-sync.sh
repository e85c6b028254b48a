#!/usr/bin/env bash
# Measures how exactly quorvane reads and sets the clock: five tests and five
# synchronisations against a loopback SNTP server whose clock is this
# machine's own, five exchanges of the clock service with three such servers
# (one name, three addresses), beside five bare WSAAsyncSelect round trips
# (the floor), all under Wine in a private network namespace. Prints a Markdown table. The
# clock is never set: the benchmark's clock setter only records the value.
# QV_BENCH_EACH=1 also prints the figures of every attempt.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# The i686 programs where this machine runs 32-bit programs, else the x86_64
# build of the same sources in a 64-bit prefix.
arch=$(scripts/wine-session.sh arch)
tree=win; [ "$arch" = win32 ] || tree=win64
scripts/build.sh $tree >/dev/null
echo "Wine: the $tree build in a ${arch#win}-bit prefix"
export arch tree
scripts/in-private-network.sh bash -c '
  root=build/bench-$arch
  scripts/wine-session.sh start "$root" "$arch" >/dev/null
  eval "$(scripts/wine-session.sh env "$root")"
  # The clock service asks every address of bench.test: three loopback
  # servers, given to the resolver by a hosts file in this mount namespace.
  hosts=$(mktemp)
  printf "127.0.0.1 localhost\n127.0.0.2 bench.test\n127.0.0.3 bench.test\n127.0.0.4 bench.test\n" > "$hosts"
  mount --bind "$hosts" /etc/hosts
  python3 tools/sntp_server.py --serve 127.0.0.1=0 --serve 127.0.0.2=0 --serve 127.0.0.3=0 \
    --serve 127.0.0.4=0 >/dev/null & sntp=$!
  sleep 0.5
  rc=0
  export QV_BENCH_EACH=${QV_BENCH_EACH:-}
  wine build/$tree/tools/syncbench.exe | iconv -f CP932 -t UTF-8 || rc=$?
  kill $sntp
  umount /etc/hosts; rm -f "$hosts"
  scripts/wine-session.sh stop "$root"
  exit $rc' 2>&1 | grep -v 'setlocale: LC_ALL'
