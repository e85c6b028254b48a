// Test versions of the clock-setting and receive seams for the Wine tests:
// the clock is read for real, but every setting is only recorded.
#pragma once

#include <windows.h>

#include <vector>

struct WineSeams {
    std::vector<SYSTEMTIME> clockSettings;
    std::vector<DWORD> settingTicks;
    int injectedReceiveError = 0; // nonzero: the next receives fail with it
};

extern WineSeams g_wineSeams;
