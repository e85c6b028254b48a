// Deleting a file at the next start of Windows, and taking that back.
#pragma once

// Asks Windows to delete `path` when it next starts: a delayed delete where
// the system has it (the NT family), otherwise a "NUL=" line in the
// "[Rename]" section of WININIT.INI. Failures are silent.
void DeleteAtRestart(const char* path);
// Takes back every deletion of `path` at the next start, however asked
// (a file installed again where an earlier removal could not delete it).
// Failures are silent.
void KeepAtRestart(const char* path);
// The WININIT.INI way alone, with that file at `wininitPath`: the deletion
// of `path` added (`deleted`) or taken out. WININIT.INI is never created.
bool SetDeletionInWininit(const char* path, const char* wininitPath, bool deleted);
