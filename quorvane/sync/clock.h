// The program's only contact with the system clock. The programs link the real
// functions (clock_reading.cpp, system_clock.cpp, privilege.cpp); tests link
// their own, so that no test can change a machine's clock.
#pragma once

#include <cstdint>

#include "win_types.h"

// The current UTC time in 100-ns units since 1601-01-01 (a FILETIME), as
// finely as the system can read it.
uint64_t ReadSystemClock();
// A count of 100-ns units that nobody can set (QueryPerformanceCounter),
// from an arbitrary origin: it tells whether the system clock was moved.
uint64_t ReadMonotonicClock();
// The local calendar time of a UTC FILETIME count, by the time zone's rules.
bool UtcToLocalTime(uint64_t utcTicks, SYSTEMTIME* local);
// Reads the current local time (GetLocalTime).
void ReadLocalClock(SYSTEMTIME* local);
// Sets the clock to a UTC time (SetSystemTime). Nonzero on success.
BOOL SetSystemClock(const SYSTEMTIME* utc);
// Enables the right to set the clock where the system has one.
bool EnableSystemTimePrivilege();
