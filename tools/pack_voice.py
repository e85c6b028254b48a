#!/usr/bin/env python3
"""Packs WAV clips into the voice archive that quorvane reads ("voice.dat").

    pack_voice.py OUTPUT NAME=FILE.wav [NAME=FILE.wav ...]
    pack_voice.py --names ARCHIVE      lists the clip names of an archive

A source of the form "@ARCHIVE" takes the clip of that name from an existing
archive byte for byte (the speech engine's dither differs from run to run, so
clips already shipped are kept rather than made again). The archive may be
the output itself: every clip is read before the output is written.

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


def archive_clips(path):
    with open(path, "rb") as f:
        data = f.read()
    (count,) = struct.unpack_from("<i", data, 0)
    clips = {}
    for i in range(max(count, 0)):
        raw, offset, size = struct.unpack_from("<12sII", data, 4 + 20 * i)
        name = raw.split(b"\0", 1)[0].decode("ascii")
        if offset + size > len(data):
            sys.exit(f"{path}: clip {name} runs past the end")
        clips.setdefault(name, data[offset:offset + size])
    return clips


def archived_wav(path, name):
    image = archive_clips(path).get(name)
    if image is None:
        sys.exit(f"{path}: no clip {name}")
    channels, rate, bits = struct.unpack_from("<HIxxxxxxH", image, 22)
    return (channels, bits // 8, rate), image


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--names":
        print("\n".join(archive_clips(sys.argv[2])))
        return
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    output, arguments = sys.argv[1], sys.argv[2:]
    clips = []
    formats = set()
    for argument in arguments:
        name, path = argument.split("=", 1)
        if not name.isascii() or len(name) > 11:
            sys.exit(f"bad clip name {name!r}: at most 11 ASCII characters")
        sample_format, image = archived_wav(path[1:], name) if path.startswith("@") else minimal_wav(path)
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
