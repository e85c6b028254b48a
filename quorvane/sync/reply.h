// Evaluation of one SNTP reply and the clock correction.
#pragma once

#include <cstdint>
#include <ctime>

#include "ntp_time.h"
#include "sync_request.h"

// Evaluates a 48-byte reply for the attempt's request (whose Mode may be
// turned from Synchronise to Test when no correction is needed). `arrival` is
// the local clock read as soon as the reply was received, before anything was
// shown: drawing status lines must count neither as network delay nor as
// clock error. Returns true when the attempt is finished, false when it
// should keep waiting.
bool ProcessReply(const uint8_t reply[NtpPacketSize], const NtpTimestamp& arrival, SyncRequest* request);

// Local time of the last successful clock setting in this run; all fields 0
// (tm_year 0) while there has been none.
extern struct tm LastSyncTime;

// LastSyncTime as "YYYY-MM-DD HH:MM:SS" in a buffer that each call
// overwrites, or nullptr while there has been none.
const char* GetLastSyncText();
