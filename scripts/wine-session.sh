#!/usr/bin/env bash
# One Wine test session under ROOT: a prefix made once, an Xvfb display and a
# persistent wineserver, all ended by their pids.
#   wine-session.sh start ROOT [ARCH]  make the prefix if needed, start Xvfb and wineserver
#   wine-session.sh stop ROOT          end the wineserver and Xvfb of ROOT
#   wine-session.sh env ROOT           print the environment (for eval)
#   wine-session.sh arch               which Wine this machine runs the tests with
# ARCH: win32, the i686 build in a 32-bit prefix; win64, the x86_64 build in
# a 64-bit prefix; wow64, the i686 build in a 64-bit prefix (a 32-bit program
# on 64-bit Windows). A session keeps the ARCH it was started with; without
# one it takes what `arch` answers.
set -euo pipefail

cmd=${1:?usage: wine-session.sh start|stop|env ROOT [ARCH] | arch}

# Whether this machine runs 32-bit programs, asked by starting one: some
# kernels boot with their 32-bit support off, and then nothing i386 starts.
runs_32bit() { timeout 30 /usr/lib/wine/wine --version >/dev/null 2>&1 </dev/null; }

# win32 where 32-bit programs run, win64 elsewhere; QV_WINE_ARCH decides
# instead when it is set.
wine_arch() {
  case "${QV_WINE_ARCH:-}" in
    win64) echo win64 ;;
    win32)
      if ! runs_32bit; then
        echo "wine-session: QV_WINE_ARCH=win32, but this machine cannot run 32-bit programs" \
             "(/usr/lib/wine/wine does not start); leave QV_WINE_ARCH unset or set it to win64" >&2
        return 1
      fi
      echo win32 ;;
    "") if runs_32bit; then echo win32; else echo win64; fi ;;
    *) echo "wine-session: QV_WINE_ARCH must be win32 or win64, not '$QV_WINE_ARCH'" >&2; return 1 ;;
  esac
}

if [ "$cmd" = arch ]; then wine_arch; exit $?; fi

root=${2:?usage: wine-session.sh start|stop|env ROOT [ARCH]}
mkdir -p "$root"
root=$(cd "$root" && pwd)

if [ "$cmd" = start ]; then
  arch=${3:-}
  [ -n "$arch" ] || arch=$(wine_arch)
  case "$arch" in win32|win64|wow64) ;; *) echo "wine-session: unknown ARCH '$arch'" >&2; exit 2 ;; esac
  echo "$arch" > "$root/arch"
fi
arch=$(cat "$root/arch" 2>/dev/null || echo win32)

# The loaders of the session's kind, under the names that scripts call. A
# 64-bit prefix with the x86_64 build runs the 64-bit loader by its path:
# Debian's "wine" takes the 32-bit one whenever it is installed, even where
# it cannot start.
make_loaders() {
  mkdir -p "$root/bin"
  local wine=/usr/lib/wine/wine server=/usr/lib/wine/wineserver32
  case "$arch" in
    win64) wine=/usr/lib/wine/wine64; server=/usr/lib/wine/wineserver64 ;;
    wow64) wine=/usr/bin/wine-stable; server=/usr/lib/wine/wineserver64 ;;
  esac
  printf '#!/bin/sh\nexec %s "$@"\n' "$wine" > "$root/bin/wine"
  printf '#!/bin/sh\nexec %s "$@"\n' "$server" > "$root/bin/wineserver"
  cp "$root/bin/wine" "$root/bin/wine-stable"
  chmod +x "$root/bin/wine" "$root/bin/wine-stable" "$root/bin/wineserver"
}

wine_env() {
  export WINEPREFIX="$root/prefix"
  export WINEARCH=win32
  [ "$arch" = win32 ] || WINEARCH=win64
  case ":$PATH:" in *":$root/bin:"*) ;; *) export PATH="$root/bin:$PATH" ;; esac
  export WINESERVER="$root/bin/wineserver"
  [ "$arch" != win64 ] || export WINELOADER=/usr/lib/wine/wine64
  export WINEDEBUG=${QV_WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
  # Sound goes to a file, never to a device of this machine.
  export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$root/asound.conf"
  export QV_SOUND_CAPTURE="$root/played.raw"
  [ -f "$root/display" ] && export DISPLAY=$(cat "$root/display")
  return 0
}

start_xvfb() {
  if [ -f "$root/xvfb.pid" ] && kill -0 "$(cat "$root/xvfb.pid")" 2>/dev/null; then return; fi
  # A display given by the caller (run.sh with $DISPLAY) is used as it is.
  if [ -f "$root/display" ] && [ ! -f "$root/xvfb.pid" ]; then return; fi
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    echo $! > "$root/xvfb.pid"
    for _ in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && { echo ":$n" > "$root/display"; return; }
      kill -0 "$(cat "$root/xvfb.pid")" 2>/dev/null || break
      sleep 0.05
    done
  done
  echo "wine-session: no display could be started" >&2
  exit 1
}

make_prefix() {
  [ -f "$root/prefix/.qv-ready-2-$arch" ] && return
  rm -rf "$root/prefix"
  wine wineboot -i >/dev/null 2>&1
  wineserver -w
  # The profile folders point at the real home folder: make them plain ones.
  local l
  for l in "$WINEPREFIX/drive_c/users/$(id -un)"/*; do
    if [ -L "$l" ]; then rm "$l"; mkdir "$l"; fi
  done
  # One virtual desktop with a taskbar for every program; sound through ALSA.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f >/dev/null 2>&1
  # The Japanese Windows fonts that dialogs name, mapped to the IPA fonts of
  # the same kind (proportional or fixed), as their metrics are alike.
  local font
  for font in "ＭＳ Ｐゴシック=IPAPGothic" "MS PGothic=IPAPGothic" "MS UI Gothic=IPAPGothic" \
              "ＭＳ ゴシック=IPAGothic" "MS Gothic=IPAGothic" "ＭＳ Ｐ明朝=IPAPMincho" "ＭＳ 明朝=IPAMincho"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${font%%=*}" /d "${font#*=}" /f >/dev/null 2>&1
  done
  wineserver -w
  touch "$root/prefix/.qv-ready-2-$arch"
}

case "$cmd" in
  start)
    make_loaders
    wine_env
    cat > "$root/asound.conf" <<ALSA
pcm.!default {
    type file
    slave.pcm "null"
    file "|cat >> $root/played.raw"
    format "raw"
}
ALSA
    start_xvfb
    wine_env
    (
      flock 9
      make_prefix
    ) 9>"$root/prefix.lock"
    # T: is a drive of the tests' own; S: a small one, where this runs in
    # the tests' own mount namespace.
    mkdir -p "$root/tdrive"
    ln -sfn "$root/tdrive" "$WINEPREFIX/dosdevices/t:"
    # A symbolic link on T:, which Wine shows as a reparse point and which a
    # Windows program cannot make under Wine 8: T:\qv-links\link leads to
    # T:\qv-outside wherever a test moves T:\qv-links.
    mkdir -p "$root/tdrive/qv-outside" "$root/tdrive/qv-links"
    [ -L "$root/tdrive/qv-links/link" ] || ln -s "$root/tdrive/qv-outside" "$root/tdrive/qv-links/link"
    # A second name of someone else's file (a hard link; a symbolic link to
    # a file is a plain file to Wine).
    [ -f "$root/tdrive/qv-outside/other.log" ] || echo "someone else's" >"$root/tdrive/qv-outside/other.log"
    [ -f "$root/tdrive/qv-links/second.log" ] || ln "$root/tdrive/qv-outside/other.log" "$root/tdrive/qv-links/second.log"
    # U: shows T:\qv-outside under a drive letter of its own, as SUBST does.
    ln -sfn "$root/tdrive/qv-outside" "$WINEPREFIX/dosdevices/u:"
    if [ "${QV_PRIVATE_NETWORK:-}" = 1 ] && [ "$(id -u)" = 0 ]; then
      mkdir -p "$root/sdrive"
      mountpoint -q "$root/sdrive" || mount -t tmpfs -o size=64m tmpfs "$root/sdrive"
      ln -sfn "$root/sdrive" "$WINEPREFIX/dosdevices/s:"
    fi
    wineserver -p
    # Start Wine's services and the desktop now, with no pipe of a caller
    # open in them: a test runner would otherwise wait for them to end.
    wine cmd /c exit >/dev/null 2>&1 </dev/null || true
    ;;
  stop)
    wine_env
    wineserver -k 2>/dev/null || true
    if [ -f "$root/xvfb.pid" ]; then
      kill "$(cat "$root/xvfb.pid")" 2>/dev/null || true
      rm -f "$root/xvfb.pid" "$root/display"
    fi
    if [ "${QV_PRIVATE_NETWORK:-}" = 1 ] && mountpoint -q "$root/sdrive" 2>/dev/null; then
      umount "$root/sdrive" || true
    fi
    ;;
  env)
    wine_env
    for v in WINEPREFIX WINEARCH PATH WINESERVER WINELOADER WINEDEBUG WINEDLLOVERRIDES LANG LC_ALL ALSA_CONFIG_PATH QV_SOUND_CAPTURE DISPLAY; do
      [ -z "${!v+set}" ] || printf 'export %s=%q\n' "$v" "${!v}"
    done
    ;;
  *) echo "usage: wine-session.sh start|stop|env ROOT [ARCH] | arch" >&2; exit 2 ;;
esac
