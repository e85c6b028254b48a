// What servers asked of this client with kiss-o'-death codes, kept for the
// scheduler: a server that refuses this client (DENY, RSTR) is not asked
// again automatically, one that asks to be asked less often (RATE) is left
// alone for twice as long each time it asks.
#pragma once

#include <cstdint>

#include "reply.h"

// The longest wait that RATE can impose: one day, in minutes.
constexpr uint32_t MaxRateHoldMinutes = 1440;

struct ServerKiss {
    char server[256];  // the server name the codes came from
    bool denied;       // DENY or RSTR: no automatic attempt against it
    bool rateNew;      // a RATE that the scheduler has not yet turned into a wait
    uint32_t rateHold; // minutes of the last RATE wait; 0 once the server answers normally
    uint32_t holdLeft; // minutes an automatic attempt still waits
};

// Copies a server name into a 256-byte field, cut to 255 bytes.
void CopyServerName(char out[256], const char* server);

// The process's record; reset when the program starts.
extern ServerKiss g_serverKiss;

// Notes how a server answered an attempt, automatic or a test: the server
// said it, whoever asked. Verdicts other than a kiss code or a finished
// answer change nothing.
void NoteServerVerdict(ServerKiss* kiss, const char* server, ReplyVerdict verdict);

// The wait after a RATE: twice the interval the first time, twice the last
// wait while RATE keeps coming, never more than a day.
uint32_t NextRateHold(uint32_t lastHold, uint32_t intervalMinutes);

// One minute tick of the scheduler for `server`: false while the codes keep
// an automatic attempt from starting. A server name other than the noted
// one (the setting changed) forgets the codes.
bool KissAllowsAutomaticAttempt(ServerKiss* kiss, const char* server, uint32_t intervalMinutes);
