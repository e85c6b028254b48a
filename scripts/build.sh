#!/usr/bin/env bash
# Configures and builds the three trees: build/win (the programs and the Wine
# tests), build/host (pure modules with sanitizers) and build/fuzz (libFuzzer).
#   build.sh [win|host|fuzz]...    default: all three
set -euo pipefail
cd "$(dirname "$0")/.."
trees=("$@"); [ ${#trees[@]} -gt 0 ] || trees=(win host fuzz)
for tree in "${trees[@]}"; do
  dir=build/$tree
  if [ ! -f "$dir/build.ninja" ]; then
    case "$tree" in
      win)  args=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel) ;;
      host) args=(-DQV_FLAVOUR=host -DCMAKE_BUILD_TYPE=Debug) ;;
      fuzz) args=(-DQV_FLAVOUR=fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug) ;;
      *) echo "build.sh: unknown tree $tree" >&2; exit 2 ;;
    esac
    cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
  fi
  cmake --build "$dir"
done
