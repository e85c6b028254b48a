#!/usr/bin/env bash
# Draws the clock icon of quorvane (16, 32 and 48 pixels) into
# quorvane/res/quorvane.ico with ImageMagick: a white face with a blue rim,
# hour marks, and hands at ten past ten.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
draw() { # size
  local s=$1
  python3 - "$s" > "$work/draw.mvg" <<'PY'
import math, sys
s = int(sys.argv[1]); c = (s - 1) / 2; r = s / 2 - max(1, s / 16)
rim = max(1.0, s / 14)
print(f"fill #1f5fbf stroke none circle {c},{c} {c},{c - r - rim / 2}")
print(f"fill white stroke none circle {c},{c} {c},{c - r + rim}")
print(f"stroke #1f3f7f stroke-width {max(1, s / 24)} stroke-linecap round")
if s >= 32:
    for h in range(12):
        a = math.radians(h * 30)
        inner = r - rim - s / 10
        print(f"line {c + inner * math.sin(a)},{c - inner * math.cos(a)} {c + (r - rim - 1) * math.sin(a)},{c - (r - rim - 1) * math.cos(a)}")
hour, minute = math.radians(305), math.radians(60)
print(f"stroke #202020 stroke-width {max(1.2, s / 12)} line {c},{c} {c + r * 0.45 * math.sin(hour)},{c - r * 0.45 * math.cos(hour)}")
print(f"stroke #202020 stroke-width {max(1, s / 18)} line {c},{c} {c + r * 0.7 * math.sin(minute)},{c - r * 0.7 * math.cos(minute)}")
print(f"fill #c03020 stroke none circle {c},{c} {c + max(0.8, s / 20)},{c}")
PY
  convert -size "${s}x${s}" xc:none -draw "$(cat "$work/draw.mvg")" "PNG32:$work/icon$s.png"
}
for s in 16 32 48; do draw $s; done
# The installer: a box with an arrow into it.
box() { # size
  local s=$1
  python3 - "$s" > "$work/box.mvg" <<'PY'
import sys
s = int(sys.argv[1]); m = max(1, s // 16); w = max(1.0, s / 16)
print(f"fill #c89640 stroke #6b4a12 stroke-width {w} rectangle {m},{s*0.45} {s-1-m},{s-1-m}")
print(f"fill #e0b870 stroke #6b4a12 stroke-width {w} polygon {m},{s*0.45} {s*0.25},{s*0.3} {s*0.75},{s*0.3} {s-1-m},{s*0.45}")
print(f"fill #1f5fbf stroke none polygon {s*0.38},{m} {s*0.62},{m} {s*0.62},{s*0.35} {s*0.78},{s*0.35} {s*0.5},{s*0.62} {s*0.22},{s*0.35} {s*0.38},{s*0.35}")
PY
  convert -size "${s}x${s}" xc:none -draw "$(cat "$work/box.mvg")" "PNG32:$work/box$s.png"
}
for s in 16 32 48; do box $s; done
convert "$work/box16.png" "$work/box32.png" "$work/box48.png" installer/installer.ico
convert "$work/icon16.png" "$work/icon32.png" "$work/icon48.png" quorvane/res/quorvane.ico
convert "$work/icon48.png" -scale 400% docs/icon-48-zoomed.png
echo "quorvane/res/quorvane.ico installer/installer.ico"
