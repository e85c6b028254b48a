// The real system clock, used by the program; tests link their own.
#include "clock.h"

void ReadSystemClock(SYSTEMTIME* utc)
{
    GetSystemTime(utc);
}

BOOL SetSystemClock(const SYSTEMTIME* utc)
{
    return SetSystemTime(utc);
}
