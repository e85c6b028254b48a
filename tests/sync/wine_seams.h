// Test versions of the clock-setting and datagram seams for the Wine tests:
// the clock is read for real, but every setting is only recorded (with the
// real clock at that moment).
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

struct WineSeams {
    std::vector<SYSTEMTIME> clockSettings;
    std::vector<DWORD> settingTicks;
    std::vector<uint64_t> settingClock; // ReadSystemClock() when each setting was asked for
    int injectedReceiveError = 0; // nonzero: the next receives fail with it,
    int injectedReceives = -1;    // that many of them (-1: all)
    bool sendsFail = false;
};

extern WineSeams g_wineSeams;
