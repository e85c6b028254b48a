// What a starter hands to a sync attempt.
#pragma once

#include <cstdint>

enum SyncMode : int32_t {
    Test = 0,        // measure and report; never set the clock
    Synchronise = 1, // set the clock when the error reaches the tolerance
};

struct SyncRequest {
    int32_t Mode;       // SyncMode
    const char* Server; // host name or numeric address, at most 255 bytes
    uint32_t MaxDelay;  // largest accepted round-trip delay, ms
    uint32_t Tolerance; // errors below this are not corrected, ms
    int32_t TimeShift;  // the clock is set this many seconds behind the server
};
