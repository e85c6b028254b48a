#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: host unit
# tests with sanitizers, the fuzz targets for a bounded time, and the Win32
# and end-to-end tests under Wine inside a private network namespace: the
# i686 build in a 32-bit prefix where this machine runs 32-bit programs, the
# x86_64 build of the same sources in a 64-bit prefix where it cannot
# (QV_WINE_ARCH=win32|win64 chooses).
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1
chosen=${QV_WINE_ARCH:-}
arch=$(scripts/wine-session.sh arch) || exit 1
export QV_WINE_ARCH=$arch
case "$arch:$chosen" in
  win32:) tree=win; what="i686 build in a 32-bit prefix (this machine runs 32-bit programs)" ;;
  win32:*) tree=win; what="i686 build in a 32-bit prefix (QV_WINE_ARCH=win32)" ;;
  win64:) tree=win64; what="x86_64 build in a 64-bit prefix (this machine cannot run 32-bit programs)" ;;
  *) tree=win64; what="x86_64 build in a 64-bit prefix (QV_WINE_ARCH=win64)" ;;
esac
scripts/build.sh || exit 1

log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT
passed=0; failed=0; skipped=0
count() { # adds the counts of one ctest summary
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  local f t s
  f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  s=$(grep -cE '^\s*[0-9]+ - .* \(Skipped\)$' "$1")
  passed=$((passed + t - f - s)); failed=$((failed + f)); skipped=$((skipped + s))
}

echo "== host unit tests (sanitizers)"
(cd build/host && ctest --output-on-failure --timeout 300) 2>&1 | tee "$log/host"; count "$log/host"

echo "== fuzz targets"
(cd build/fuzz && ctest --output-on-failure) 2>&1 | tee "$log/fuzz"; count "$log/fuzz"

if [ "$tree" = win64 ]; then
  # The budgets measure the i686 programs that users receive; no Wine needed
  # (and none started: CTest's list of build/win would start 32-bit Wine).
  echo "== size and import budgets of the i686 programs"
  while read -r program kib known; do
    [ -n "$program" ] || continue
    if scripts/check-budget.sh "$program" "$kib" $known; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
    fi
  done < build/win/budgets.txt
fi

echo "== Win32 and end-to-end tests under Wine"
echo "Wine tests: $what"
# Where 32-bit programs run, the tests of a 32-bit program on 64-bit Windows
# run apart, in a 64-bit prefix of their own; the x86_64 build reports them
# as skipped with the reason.
exclude=()
[ "$tree" = win ] && exclude=(-E '^Wow64\.')
export tree
scripts/in-private-network.sh bash -c '
  root=build/$tree/wine
  scripts/wine-session.sh start "$root" "$QV_WINE_ARCH" || exit 1
  (cd build/$tree && ctest --output-on-failure --timeout 300 "$@")
  rc=$?
  scripts/wine-session.sh stop "$root"
  exit $rc' _ "${exclude[@]}" 2>&1 | grep -v 'setlocale: LC_ALL' | tee "$log/win"; count "$log/win"

if [ "$tree" = win ]; then
  echo "== a 32-bit program on 64-bit Windows: the i686 build in a 64-bit prefix"
  scripts/in-private-network.sh bash -c '
    export QV_WINE_ROOT=$PWD/build/win/wine-wow64 QV_WINE_SESSION_ARCH=wow64
    scripts/wine-session.sh start "$QV_WINE_ROOT" wow64 || exit 1
    (cd build/win && ctest --output-on-failure --timeout 300 -R "^Wow64\.")
    rc=$?
    scripts/wine-session.sh stop "$QV_WINE_ROOT"
    exit $rc' 2>&1 | grep -v 'setlocale: LC_ALL' | tee "$log/wow64"; count "$log/wow64"
fi

echo "== the first command of the README: run.sh, headless"
env -u DISPLAY bash scripts/run.sh 2>&1 | tee "$log/run"
if grep -q '^Summary: .*clock set: Windows accepted' "$log/run"; then
  echo "run.sh: passed"; passed=$((passed + 1))
else
  echo "run.sh: failed (no summary saying that the clock was set)"; failed=$((failed + 1))
fi

echo
echo "Wine tests: $what"
echo "total: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
