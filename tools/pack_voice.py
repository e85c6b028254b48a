#!/usr/bin/env python3
"""Packs WAV clips into the voice archive that quorvane reads ("voice.dat").

    pack_voice.py OUTPUT NAME=FILE.wav [NAME=FILE.wav ...]

Layout, little-endian: int32 count; count entries of 20 bytes (12-byte
NUL-padded name, uint32 offset, uint32 size); then the clips. Each clip is
rewritten as a minimal RIFF WAVE file ("fmt " then "data", the data chunk
last, its RIFF size exact), and all clips must share one sample format.
"""
import struct
import sys
import wave


def minimal_wav(path):
    with wave.open(path, "rb") as w:
        channels, width, rate = w.getnchannels(), w.getsampwidth(), w.getframerate()
        frames = w.readframes(w.getnframes())
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * channels * width, channels * width, width * 8)
    data = frames + (b"\0" if len(frames) % 2 else b"")
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(frames)) + data
    return (channels, width, rate), b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    output, arguments = sys.argv[1], sys.argv[2:]
    clips = []
    formats = set()
    for argument in arguments:
        name, path = argument.split("=", 1)
        if not name.isascii() or len(name) > 11:
            sys.exit(f"bad clip name {name!r}: at most 11 ASCII characters")
        sample_format, image = minimal_wav(path)
        formats.add(sample_format)
        clips.append((name, image))
    if len(formats) != 1:
        sys.exit(f"clips differ in sample format: {formats}")

    offset = 4 + 20 * len(clips)
    index = struct.pack("<i", len(clips))
    for name, image in clips:
        index += name.encode("ascii").ljust(12, b"\0") + struct.pack("<II", offset, len(image))
        offset += len(image)
    with open(output, "wb") as f:
        f.write(index)
        for _, image in clips:
            f.write(image)
    print(f"{output}: {len(clips)} clips, {offset} bytes, format {formats.pop()}")


if __name__ == "__main__":
    main()
