#!/usr/bin/env bash
# Draws the clock icon of quorvane into quorvane/res/quorvane.ico with
# ImageMagick: a white face with a blue rim, hour marks, and hands at ten past
# ten. 16, 32 and 48 pixels are stored as bitmaps, which every Windows reads;
# 20, 24, 40 and 64 (the small and large icon at 125 to 200 % scaling) as PNG,
# which Windows Vista and later read, to keep the program small. The
# installer's box keeps 32-bit colour at 16 pixels only.
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
for s in 16 20 24 32 40 48 64; do draw $s; done
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
python3 - installer/installer.ico <<'PY'
import struct, sys
# The installer's icon with its 32 and 48 pixel images in 256 colours and a
# transparency mask: every Windows reads them, and they take a third of the
# room of 32-bit images (the installer has a size budget).
path = sys.argv[1]
old = open(path, "rb").read()
entries = []
for i in range(struct.unpack("<H", old[4:6])[0]):
    w, h, colours, _, planes, bits, size, offset = struct.unpack("<BBBBHHII", old[6 + 16 * i:22 + 16 * i])
    image = old[offset:offset + size]
    if w >= 32 and bits == 32:
        pixels = image[40:40 + w * h * 4]
        palette = []
        index = bytearray()
        mask = bytearray()
        stride = ((w + 31) // 32) * 4
        for y in range(h):  # bottom-up rows, as stored
            row_mask = 0
            for x in range(w):
                b, g, r, a = pixels[(y * w + x) * 4:(y * w + x) * 4 + 4]
                colour = (b, g, r) if a >= 128 else (0, 0, 0)
                if colour not in palette:
                    palette.append(colour)
                index.append(palette.index(colour))
                if a < 128:
                    row_mask |= 1 << (stride * 8 - 1 - x)
            mask += row_mask.to_bytes(stride, "big")
        assert len(palette) <= 256
        header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 8, 0, len(index) + len(mask), 0, 0, 256, 0)
        table = b"".join(bytes((b, g, r, 0)) for b, g, r in palette) + b"\0" * 4 * (256 - len(palette))
        image = header + table + bytes(index) + bytes(mask)
        colours, bits = 0, 8
    entries.append((w, h, colours, planes, bits, image))
data = struct.pack("<HHH", 0, 1, len(entries))
offset = 6 + 16 * len(entries)
for w, h, colours, planes, bits, image in entries:
    data += struct.pack("<BBBBHHII", w, h, colours, 0, planes, bits, len(image), offset)
    offset += len(image)
open(path, "wb").write(data + b"".join(e[5] for e in entries))
PY
convert "$work/icon16.png" "$work/icon32.png" "$work/icon48.png" "$work/bitmaps.ico"
python3 - "$work" quorvane/res/quorvane.ico <<'PY'
import struct, sys
work, out = sys.argv[1], sys.argv[2]
old = open(f"{work}/bitmaps.ico", "rb").read()
entries = []
for i in range(struct.unpack("<H", old[4:6])[0]):
    w, h, colours, _, planes, bits, size, offset = struct.unpack("<BBBBHHII", old[6 + 16 * i:22 + 16 * i])
    entries.append((w, h, colours, planes, bits, old[offset:offset + size]))
for s in (20, 24, 40, 64):
    entries.append((s, s, 0, 1, 32, open(f"{work}/icon{s}.png", "rb").read()))
entries.sort(key=lambda e: e[0])
data = struct.pack("<HHH", 0, 1, len(entries))
offset = 6 + 16 * len(entries)
for w, h, colours, planes, bits, image in entries:
    data += struct.pack("<BBBBHHII", w, h, colours, 0, planes, bits, len(image), offset)
    offset += len(image)
open(out, "wb").write(data + b"".join(e[5] for e in entries))
PY
convert "$work/icon48.png" -scale 400% docs/icon-48-zoomed.png
echo "quorvane/res/quorvane.ico installer/installer.ico"
