#!/usr/bin/env bash
# Shows the product doing its job, the way a user meets it: builds, installs
# the distribution into a fresh Wine prefix with Setup's silent mode (quorvane
# and its clock service), points the machine settings at a loopback SNTP
# server whose clock is 0.3 s ahead, starts quorvane from its Start-menu link,
# asks for a synchronisation with "今すぐ合わせる" and prints what the window
# shows. Offline: everything runs in a private network namespace.
#   run.sh                the loopback server
#   run.sh --internet     the product's public default server (ntp.nict.jp);
#                         needs Internet access
# With $DISPLAY set everything stays running on that display until quorvane
# is ended from its tray menu; otherwise an Xvfb display, and pictures of the
# menu, the progress window and the About box in build/run/.
set -euo pipefail
cd "$(dirname "$0")/.."
internet=no
case "${1:-}" in
  --internet) internet=yes ;;
  "") ;;
  *) echo "usage: run.sh [--internet]" >&2; exit 2 ;;
esac
bash scripts/setup.sh
# The i686 programs where this machine runs 32-bit programs; elsewhere the
# x86_64 build of the same sources, in a 64-bit prefix.
arch=$(scripts/wine-session.sh arch)
tree=win; [ "$arch" = win32 ] || tree=win64
scripts/build.sh $tree

root=build/run
template=build/run-template-$arch
rm -rf "$root"
mkdir -p "$root"
if [ -n "${DISPLAY:-}" ]; then echo "$DISPLAY" > "$root/display"; fi
# A clean prefix is made once and copied for every run: the product is
# installed anew each time.
if [ ! -f "$template/prefix/.qv-ready-2-$arch" ]; then
  echo "run.sh: making a Wine prefix (once)"
  scripts/wine-session.sh start "$template" "$arch" >/dev/null || { echo "run.sh: no Wine prefix could be made" >&2; exit 1; }
  scripts/wine-session.sh stop "$template"
fi
cp -a "$template/prefix" "$root/prefix"
export root internet arch tree

demo() {
  set -euo pipefail
  fail() { echo "run.sh: $*" >&2; exit 1; }
  scripts/wine-session.sh start "$root" "$arch" >/dev/null || fail "no display: Xvfb could not be started"
  eval "$(scripts/wine-session.sh env "$root")"
  local machine='HKLM\SOFTWARE\veskar\quorvane'
  sntp= # global: the exit trap reads it after this function
  if [ "$internet" = no ]; then
    python3 tools/sntp_server.py --address 127.0.0.1 --offset 0.3 >/dev/null & sntp=$!
    trap 'kill "$sntp" 2>/dev/null' EXIT # also when a step fails
    # All six machine values, before Setup: the service never asks anyone else.
    wine reg add "$machine" /v Server /d 127.0.0.1 /f >/dev/null 2>&1
    wine reg add "$machine" /v Sync /d "" /f >/dev/null 2>&1
    local name
    for name in SyncInterval=30 MaxDelay=500 Tolerance=200 TimeShift=0; do
      wine reg add "$machine" /v "${name%=*}" /t REG_DWORD /d "${name#*=}" /f >/dev/null 2>&1
    done
    wine reg add 'HKCU\Software\veskar\quorvane' /v Server /d 127.0.0.1 /f >/dev/null 2>&1
  fi
  local dist="$WINEPREFIX/drive_c/quorvane-dist"
  cp -r "build/$tree/dist" "$dist"
  # Wine keeps no security of files: every folder reads as its synthesised
  # DACL, which lets the user rename it, and the real Setup rightly refuses
  # to install below such a folder. The Setup run here is the same program
  # built with a reader that reports Program Files' own protection.
  cp "build/$tree/tests/e2e/installer_probe.exe" "$dist/SETUP.EXE"
  local rc=0
  wine 'C:\quorvane-dist\SETUP.EXE' /S '/LOG=C:\quorvane-dist\setup.log' || rc=$?
  [ "$rc" = 0 ] || fail "Setup ended with $rc: $(iconv -f CP932 -t UTF-8 "$dist/setup.log" 2>/dev/null)"
  echo "Installed with SETUP.EXE /S: quorvane and its clock service QuorvaneClock"
  echo "(Setup read every folder as protected like Program Files: Wine keeps no file security)"
  local programs
  programs=$(wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' /v Programs 2>/dev/null \
             | iconv -f CP932 -t UTF-8 | sed -n 's/.*REG_SZ[[:space:]]*//p' | tr -d '\r')
  wine start "$programs\\Quorvane.lnk" >/dev/null 2>&1 || fail "quorvane could not be started from its Start-menu link"

  export QV_SHOT_DIR="$PWD/$root/poses"
  mkdir -p "$QV_SHOT_DIR"
  local leave=
  if [ ! -f "$root/xvfb.pid" ]; then leave=--leave; unset QV_SHOT_DIR; fi
  local lines=() error= word rest name x y w h verdict=
  # The summary of the lines, once the About box has been read.
  summarise() {
    local server= delay= offset= result=${lines[-1]} l
    for l in "${lines[@]}"; do
      case "$l" in
        # "127.0.0.1: 往復遅延 0.001秒、時刻誤差 +0.299秒": the first address that answered
        *:\ 往復遅延\ *秒、時刻誤差\ *秒)
          if [ -z "$server" ]; then
            server=${l%%: 往復遅延*}; delay=${l#*往復遅延 }; delay=${delay%%秒*}
            offset=${l#*時刻誤差 }; offset=${offset%秒}
          fi ;;
      esac
    done
    case "$result" in
      時刻合わせに成功しました。) verdict="clock set: Windows accepted the new time (Wine never moves this machine's clock)" ;;
      テストは正常に完了しました。) verdict="no correction needed (below the tolerance)" ;;
      *) verdict="not set: $result" ;;
    esac
    echo "Summary: server ${server:-?}, round-trip delay ${delay:-?} s, clock error ${offset:-?} s, $verdict"
  }
  echo "The clock service's synchronisation, as 今すぐ合わせる shows it:"
  while IFS= read -r line; do
    line=${line%$'\r'}
    word=${line%% *}; rest=${line#* }
    # CP932 from the driver, converted line by line: a pipe through iconv
    # would hold the requests for pictures until the driver ends.
    [ "$word" = SHOT ] || rest=$(printf '%s' "$rest" | iconv -f CP932 -t UTF-8)
    case "$word" in
      LINE) lines+=("$rest"); echo "  $rest" ;;
      ABOUT)
        [ ${#lines[@]} -gt 0 ] || fail "no status lines: the service did not answer"
        summarise
        echo "About box: $rest"
        [ -z "$leave" ] || echo "quorvane keeps running on $DISPLAY: end it from its tray menu (終了)." ;;
      ERROR) error=$rest ;;
      SHOT)
        read -r name x y w h <<<"$rest"
        case "$name" in
          mouse-on-icon) xdotool mousemove 1012 757; sleep 0.5 ;;
          run-menu) sleep 0.5; import -window root "$root/full.png"
                    convert "$root/full.png" -crop 500x280+524+488 +repage "$root/menu.png" ;;
          *) import -window root "$root/full.png"
             convert "$root/full.png" -crop "$((w + 16))x$((h + 16))+$((x - 8))+$((y - 8))" +repage "$root/${name#run-}.png" ;;
        esac
        touch "$QV_SHOT_DIR/$name.done" ;;
    esac
  done < <(wine "build/$tree/tools/rundriver.exe" $leave)
  [ -z "$error" ] || fail "$error"
  [ -n "$verdict" ] || fail "quorvane's windows could not be read"
  if [ -z "$leave" ]; then
    rm -f "$root/full.png"
    echo "Pictures: $root/menu.png $root/progress.png $root/about.png"
  fi
  wine net stop QuorvaneClock >/dev/null 2>&1 || true
  case "$verdict" in clock\ set*|no\ correction*) ;; *) exit 1 ;; esac
}
export -f demo

rc=0
if [ "$internet" = yes ]; then
  bash -c demo || rc=$?
else
  scripts/in-private-network.sh true 2>/dev/null \
    || { echo "run.sh: no private network namespace could be made (unshare -n needs root)" >&2; exit 1; }
  scripts/in-private-network.sh bash -c demo || rc=$?
fi
scripts/wine-session.sh stop "$root" 2>/dev/null || true
rm -rf "$root/prefix"
exit $rc
