// Test versions of the clock and status-line seams for the host build: a
// scripted clock, a recording clock-setter and a recorder of status lines.
#pragma once

#include <string>
#include <vector>

#include "win_types.h"

struct HostSeams {
    std::vector<SYSTEMTIME> clockReadings; // returned in order by ReadSystemClock
    size_t clockReads = 0;
    std::vector<SYSTEMTIME> clockSettings; // every time SetSystemClock was asked to set
    bool privilegeGranted = true;
    bool setSucceeds = true;
    std::vector<unsigned> lineIds;
    std::vector<std::string> lines;        // formatted, UTF-8
};

extern HostSeams g_seams;

// A UTC system time `ms` milliseconds after the NTP second `ntpSeconds`.
SYSTEMTIME UtcAt(uint32_t ntpSeconds, unsigned ms);
