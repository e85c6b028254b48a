// One attempt of the clock service: resolve the server name to all its
// addresses, ask each, judge each answer alone, believe only the answers that
// agree, and set the clock within the step bound.
#pragma once

#include <windows.h>

#include "answer_selection.h"
#include "machine_settings.h"
#include "reply.h"
#include "service_schedule.h"

struct ExchangeResult {
    AttemptOutcome outcome;
    bool stopped;       // the stop event ended it: nothing to report
    bool usable;        // at least one address gave a usable answer
    bool chosen;        // a truechimer gave the time (set or not)
    bool clockSet;      // SetSystemTime took it
    int64_t offset;     // the chosen answer's theta, 100 ns
    char server[64];    // the address that gave it
    ReplyFigures figures;
    // Addresses that sent DENY or RSTR in this attempt.
    char denied[MaxServerAddresses][64];
    char deniedCode[MaxServerAddresses][5]; // "DENY" or "RSTR"
    int deniedCount;
};

struct ExchangeOptions {
    const ServiceSchedule* schedule; // addresses it has dropped are not asked
    bool standAside;                 // measure and report, never set the clock
};

// Runs the exchange with the settings' server and limits on the calling
// thread; every wait also watches `stop`. The lines go to g_attemptLines.
// Windows Sockets must be started.
ExchangeResult RunSntpExchange(const MachineSettings& settings, HANDLE stop, const ExchangeOptions& options);
