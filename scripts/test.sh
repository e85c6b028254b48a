#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: host unit
# tests with sanitizers, the fuzz targets for a bounded time, and the Win32
# and end-to-end tests under Wine inside a private network namespace.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1
scripts/build.sh || exit 1

log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT
passed=0; failed=0
count() { # adds the counts of one ctest summary
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  local f t
  f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + t - f)); failed=$((failed + f))
}

echo "== host unit tests (sanitizers)"
(cd build/host && ctest --output-on-failure --timeout 300) 2>&1 | tee "$log/host"; count "$log/host"

echo "== fuzz targets"
(cd build/fuzz && ctest --output-on-failure) 2>&1 | tee "$log/fuzz"; count "$log/fuzz"

echo "== Win32 and end-to-end tests under Wine"
scripts/in-private-network.sh bash -c '
  root=build/win/wine
  scripts/wine-session.sh start "$root" || exit 1
  (cd build/win && ctest --output-on-failure --timeout 300)
  rc=$?
  scripts/wine-session.sh stop "$root"
  exit $rc' 2>&1 | grep -v 'setlocale: LC_ALL' | tee "$log/win"; count "$log/win"

echo "== the first command of the README: run.sh, headless"
env -u DISPLAY bash scripts/run.sh 2>&1 | tee "$log/run"
if grep -q '^Summary: .*clock set: Windows accepted' "$log/run"; then
  echo "run.sh: passed"; passed=$((passed + 1))
else
  echo "run.sh: failed (no summary saying that the clock was set)"; failed=$((failed + 1))
fi

echo
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
