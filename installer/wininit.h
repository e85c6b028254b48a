// What Windows deletes while it starts: the "[Rename]" section of
// WININIT.INI, which the Windows 95 family carries out (a line "NUL=path"
// deletes that file), and the pending operations of the NT family.
#pragma once

#include <cstddef>

constexpr size_t RenameSectionLimit = 30000;

// Builds the new file text from the old one: the "[Rename]" section, with
// every line it had kept exactly (several "NUL=" lines included) but those
// that delete `shortPath`, moves to the end of the file, and with `deleted`
// gets the line "NUL=<shortPath>" added; a Ctrl-Z that ended the file is
// dropped; everything else stays as it was. Returns the new length, or 0
// when the result would not fit in `outSize` or the section would grow
// beyond RenameSectionLimit bytes.
size_t RewriteRenameSection(const char* old, size_t oldLength, const char* shortPath, bool deleted, char* out,
                            size_t outSize);

// Takes every deletion of `path` (in the form "\??\C:\...", compared
// without regard to the case of ASCII letters) out of a list of pending
// operations, pairs of strings (the file, then its new name, empty for a
// deletion) ended by an empty string, `units` UTF-16 units long; the rest
// keeps its order and bytes, also a pair that is cut short. Returns the new
// length in units (`units` when nothing was taken out).
size_t WithoutPendingDeletion(char16_t* operations, size_t units, const char16_t* path);
