// Shift-JIS aware text routines for paths: the second byte of a double-byte
// character (表 is 95 5C, ソ is 83 5C) is never taken for "\", "," or ".".
#pragma once

#include <cstddef>

// Whether `byte` starts a double-byte character in the ANSI code page. The
// program links the system's test (IsDBCSLeadByte); tests link their own.
bool IsLeadByte(unsigned char byte);

// Bytes of the character at `p`: 2 for a lead byte followed by a byte, else 1.
size_t CharLength(const char* p);
// The first single-byte character `c` in `text`, or nullptr.
char* FindCharDbcs(char* text, char c);
const char* FindCharDbcs(const char* text, char c);
// Whether the byte at `offset` is the second byte of a double-byte character.
bool IsTrailByteAt(const char* text, size_t offset);
// Appends "\" unless the text already ends with a real one; false (and the
// text unchanged) when it would not fit in `size` bytes.
bool EnsureTrailingBackslash(char* text, size_t size);
// Whether two texts are equal, ASCII letters compared without regard to case
// (the bytes of double-byte characters exactly).
bool EqualsIgnoringCase(const char* a, const char* b);
// Appends `tail` to `text` if the whole fits in `size` bytes; otherwise
// leaves `text` unchanged and returns false. Never cuts.
bool AppendBounded(char* text, size_t size, const char* tail);
// Copies `source` into `out` if it fits in `size` bytes; otherwise returns
// false and leaves `out` unchanged.
bool CopyBounded(char* out, size_t size, const char* source);
