// One attempt of the clock service: resolve, ask, evaluate, set the clock.
#pragma once

#include <windows.h>

#include "machine_settings.h"
#include "reply.h"
#include "service_schedule.h"

struct ExchangeResult {
    AttemptOutcome outcome;
    bool stopped;         // the stop event ended it: nothing to report
    bool clockSet;        // SetSystemTime took the server's time
    ReplyFigures figures; // of the answer used
};

// Runs the exchange with the settings' server and limits, in Synchronise
// mode, on the calling thread; every wait also watches `stop`. The lines go
// to g_attemptLines. Windows Sockets must be started.
ExchangeResult RunSntpExchange(const MachineSettings& settings, HANDLE stop);
