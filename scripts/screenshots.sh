#!/usr/bin/env bash
# Takes the screenshots of docs/ under Xvfb: the end-to-end test program
# shows quorvane's windows one after the other (against its own loopback SNTP
# server, inside a private network) and this script photographs each.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# The i686 programs where this machine runs 32-bit programs, else the x86_64
# build of the same sources in a 64-bit prefix.
arch=$(scripts/wine-session.sh arch)
tree=win; [ "$arch" = win32 ] || tree=win64
scripts/build.sh $tree
root=build/shots-$arch
rm -f "$root/display"
export root arch tree
scripts/in-private-network.sh bash -c '
  set -euo pipefail
  scripts/wine-session.sh start "$root" "$arch"
  eval "$(scripts/wine-session.sh env "$root")"
  shoot() { # name x y w h: that part of the screen
    import -window root "$root/full.png"
    convert "$root/full.png" -crop "${4}x${5}+${2}+${3}" +repage "docs/$1.png"
  }
  export QV_SHOT_DIR="$root/poses"
  pose() { # program filter suffix: photographs each window the test program announces
    rm -rf "$QV_SHOT_DIR"; mkdir -p "$QV_SHOT_DIR"
    wine "$1" --gtest_also_run_disabled_tests --gtest_filter="$2" | while read -r word name x y w h; do
      [ "$word" = SHOT ] || continue
      h=${h%$'"'"'\r'"'"'}
      # QV_SHOT_ONLY: photograph only that pose, let the others pass.
      if [ -n "${QV_SHOT_ONLY:-}" ] && [ "$name" != "$QV_SHOT_ONLY" ]; then
        touch "$QV_SHOT_DIR/$name.done"; continue
      fi
      case "$name" in
        tray-tip*) xdotool mousemove 1012 757; sleep 2; shoot "$name$3" 524 588 500 180 ;;
        tray-balloon) # the balloon, then the icon zoomed
          xdotool mousemove 300 300; sleep 3; shoot "$name$3" 0 528 1024 240
          convert "$root/full.png" -crop 26x26+997+742 +repage -scale 800% "docs/tray-icon-warning$3-zoomed.png"
          sleep 8 ;; # until it has gone
        mouse-on-icon) xdotool mousemove 1012 757; sleep 0.5 ;;
        tray-menu*) sleep 0.5; shoot "$name$3" 524 488 500 280 ;;
        *) shoot "$name$3" $((x - 8)) $((y - 8)) $((w + 16)) $((h + 16)) ;;
      esac
      touch "$QV_SHOT_DIR/$name.done"
    done
  }
  set_dpi() {
    wine reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
    wineserver -k; wineserver -w; wineserver -p
  }
  # Both programs at 144 DPI (150 %), where every text must still fit, then at 96.
  set_dpi 144
  pose build/$tree/tests/e2e/quorvane_e2e_tests.exe Poser.DISABLED_ForScreenshots -144dpi
  pose build/$tree/tests/e2e/quorvane_e2e_tests.exe ServicePoser.DISABLED_ForScreenshots -144dpi
  pose build/$tree/tests/e2e/installer_e2e_tests.exe InstallerPoser.DISABLED_ForScreenshots -144dpi
  # The warning icon drawn at 120 DPI (125 %) as well: its own frame size.
  set_dpi 120
  QV_SHOT_ONLY=tray-balloon pose build/$tree/tests/e2e/quorvane_e2e_tests.exe ServicePoser.DISABLED_ForScreenshots -120dpi
  set_dpi 96
  pose build/$tree/tests/e2e/quorvane_e2e_tests.exe Poser.DISABLED_ForScreenshots ""
  pose build/$tree/tests/e2e/quorvane_e2e_tests.exe ServicePoser.DISABLED_ForScreenshots ""
  pose build/$tree/tests/e2e/installer_e2e_tests.exe InstallerPoser.DISABLED_ForScreenshots ""
  scripts/wine-session.sh stop "$root"
'
ls -la docs
