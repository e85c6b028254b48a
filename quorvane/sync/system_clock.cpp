// The real system clock, used by the program; tests link their own.
#include "clock.h"

void ReadLocalClock(SYSTEMTIME* local)
{
    GetLocalTime(local);
}

BOOL SetSystemClock(const SYSTEMTIME* utc)
{
    return SetSystemTime(utc);
}
