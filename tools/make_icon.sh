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
convert "$work/icon16.png" "$work/icon32.png" "$work/icon48.png" quorvane/res/quorvane.ico
convert "$work/icon48.png" -scale 400% docs/icon-48-zoomed.png
echo "quorvane/res/quorvane.ico"
