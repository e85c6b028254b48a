// The six machine settings of the clock service, and the command line that
// carries them to an elevated copy of quorvane.
#pragma once

#include <cstddef>

#include "win_types.h"

struct MachineSettings {
    char Server[256];  // at most 255 bytes and the NUL
    LONG Sync;         // automatic synchronisation on (1) or off (0)
    LONG SyncInterval; // minutes, 1 to 1440
    LONG MaxDelay;     // ms, 1 to 1000
    LONG Tolerance;    // ms, 0 to 1000
    LONG TimeShift;    // s, -300 to 300
};

// The switch of the elevated copy that writes the machine settings.
#define MACHINE_SETTINGS_SWITCH "/machine-settings"

// Whether every value lies in the range that the settings dialogs accept.
bool MachineSettingsInRange(const MachineSettings& settings);

// The arguments after the switch: six values, each in hexadecimal digits
// only, so that no value, whatever bytes the server name holds (spaces,
// quotes, a trail byte 0x5C), can look like a switch or split in two. The
// server is its bytes and a final 00; each number its 32 bits in 8 digits.
// False when `size` is too small.
bool EncodeMachineArguments(const MachineSettings& settings, char* out, size_t size);
// Reads the arguments back (spaces between the values) and checks them with
// the dialogs' rules; false for anything else, `settings` then undefined.
bool DecodeMachineArguments(const char* arguments, MachineSettings* settings);
