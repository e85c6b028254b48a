// The program's only contact with the system clock. The programs link the real
// functions (system_clock.cpp, privilege.cpp); tests link their own, so that no
// test can change a machine's clock.
#pragma once

#include "win_types.h"

// Reads the current UTC time (GetSystemTime).
void ReadSystemClock(SYSTEMTIME* utc);
// Reads the current local time (GetLocalTime).
void ReadLocalClock(SYSTEMTIME* local);
// Sets the clock to a UTC time (SetSystemTime). Nonzero on success.
BOOL SetSystemClock(const SYSTEMTIME* utc);
// Enables the right to set the clock where the system has one.
bool EnableSystemTimePrivilege();
