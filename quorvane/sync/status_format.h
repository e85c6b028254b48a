// The text of a status line, as every program that shows or keeps the lines
// of an attempt formats it.
#pragma once

#include <windows.h>

#include <cstdarg>

// At most 259 bytes and the terminator: what a line of the list may hold.
constexpr int StatusLineSize = 260;

// Formats string-table message `id` of the running program with `arguments`
// (wvsprintf-style 32-bit values) into `line`, cut at a whole character.
// False when the program has no such message.
bool FormatStatusLine(char line[StatusLineSize], UINT id, va_list arguments);
