#include "health_view.h"

#include "clock.h"
#include "machine_settings.h"
#include "main_window.h"
#include "service_link.h"
#include "settings.h"

void ReadHealthView(HealthView* view)
{
    HealthFacts& facts = view->facts;
    facts = HealthFacts{};
    view->serviceMode = RefreshServiceMode();
    if (view->serviceMode) {
        MachineSettings machine;
        ReadMachineSettings(&machine);
        facts.syncOn = machine.Sync != 0;
        facts.syncInterval = machine.SyncInterval;
        facts.serviceRunning = ClockServiceRunning(&facts.serviceNeverStarted);
        ReadHealthRecord(HKEY_LOCAL_MACHINE, MACHINE_STATUS_KEY, &view->record);
    } else {
        facts.syncOn = g_settings.Sync != 0;
        facts.syncInterval = g_settings.SyncInterval;
        ReadHealthRecord(HKEY_CURRENT_USER, USER_STATUS_KEY, &view->record);
    }
    facts.serviceMode = view->serviceMode;
    facts.now = ReadSystemClock();
    facts.lastSync = view->record.lastSync;
    facts.lastGood = view->record.lastGood;
    facts.lastAttempt = view->record.lastAttempt;
    facts.failures = view->record.failures;
    facts.lastResult = view->record.lastResult;
    view->health = EvaluateClockHealth(facts);
    view->lastGood = LastGoodSynchronisation(facts);
}

bool LocalTimeOf(ULONGLONG utc, SYSTEMTIME* local)
{
    FILETIME universal = {DWORD(utc), DWORD(utc >> 32)}, localFile;
    return utc != 0 && FileTimeToLocalFileTime(&universal, &localFile) && FileTimeToSystemTime(&localFile, local);
}
