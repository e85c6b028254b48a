// The clock's health as the tray program sees it now: from the clock
// service's status in service mode, from the user's own record otherwise.
#pragma once

#include <windows.h>

#include "clock_health.h"
#include "health_store.h"

struct HealthView {
    ClockHealth health;
    HealthFacts facts; // what it was worked out from
    HealthRecord record;
    ULONGLONG lastGood; // the last good synchronisation, 0: none
    bool serviceMode;
};

// Works the health out afresh (the service mode included).
void ReadHealthView(HealthView* view);
// A UTC FILETIME count in local time; false when it has none.
bool LocalTimeOf(ULONGLONG utc, SYSTEMTIME* local);
