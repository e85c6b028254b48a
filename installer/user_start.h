// Starting a program or opening a document as the user who started Setup.
#pragma once

// Whether this process holds the full administrator token of a user who
// consented at the elevation prompt (Windows Vista and later): then what it
// starts would run with that token too.
bool RunsElevated();
// Asks the running shell (the desktop's Explorer, which runs as the user
// who is logged on, unelevated) to open `file` with the verb "open", in the
// current folder `folder`, in a normal window. False when there is no such
// shell or it refuses; the caller then starts it itself.
bool OpenThroughShell(const char* file, const char* folder);
