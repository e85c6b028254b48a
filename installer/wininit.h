// The "[Rename]" section of WININIT.INI, which the Windows 95 family carries
// out while it starts: a line "NUL=path" deletes that file.
#pragma once

#include <cstddef>

constexpr size_t RenameSectionLimit = 30000;

// Builds the new file text from the old one: the "[Rename]" section, with
// every line it had kept exactly (several "NUL=" lines included) and the
// line "NUL=<shortPath>" added, moves to the end of the file; a Ctrl-Z that
// ended the file is dropped; everything else stays as it was. Returns the
// new length, or 0 when the result would not fit in `outSize` or the section
// would grow beyond RenameSectionLimit bytes.
size_t AddRenameDeletion(const char* old, size_t oldLength, const char* shortPath, char* out, size_t outSize);
