#!/usr/bin/env bash
# Configures and builds the trees: build/win (the programs as users receive
# them and the Wine tests, i686), build/win64 (the same sources for x86_64,
# for the Wine tests on machines that cannot run 32-bit programs),
# build/host (pure modules with sanitizers) and build/fuzz (libFuzzer).
#   build.sh [win|win64|host|fuzz]...    default: win, host and fuzz, and
#                                        win64 where the Wine tests need it
set -euo pipefail
cd "$(dirname "$0")/.."
trees=("$@")
if [ ${#trees[@]} -eq 0 ]; then
  trees=(win host fuzz)
  [ "$(scripts/wine-session.sh arch)" = win64 ] && trees+=(win64)
fi
for tree in "${trees[@]}"; do
  dir=build/$tree
  if [ ! -f "$dir/build.ninja" ]; then
    case "$tree" in
      win)  args=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel) ;;
      win64) args=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel) ;;
      host) args=(-DQV_FLAVOUR=host -DCMAKE_BUILD_TYPE=Debug) ;;
      fuzz) args=(-DQV_FLAVOUR=fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug) ;;
      *) echo "build.sh: unknown tree $tree" >&2; exit 2 ;;
    esac
    cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
  fi
  cmake --build "$dir"
done
