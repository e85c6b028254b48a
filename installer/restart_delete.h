// Deleting a file at the next start of Windows.
#pragma once

// Asks Windows to delete `path` when it next starts: a delayed delete where
// the system has it (the NT family), otherwise a "NUL=" line in the
// "[Rename]" section of WININIT.INI. Failures are silent.
void DeleteAtRestart(const char* path);
// The WININIT.INI way alone, with that file at `wininitPath`.
bool ScheduleDeletionInWininit(const char* path, const char* wininitPath);
