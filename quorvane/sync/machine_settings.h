// The clock service's settings and status under HKEY_LOCAL_MACHINE: only
// administrators write the settings, the service writes its status.
#pragma once

#include <windows.h>

#include "machine_values.h"

#define MACHINE_KEY "SOFTWARE\\veskar\\quorvane"
#define MACHINE_STATUS_KEY "SOFTWARE\\veskar\\quorvane\\Status"
#define CLOCK_SERVICE_NAME "QuorvaneClock"

// User-defined service controls: the only requests the service takes from
// an interactive user.
#define SERVICE_CONTROL_SYNC_NOW 128
#define SERVICE_CONTROL_REREAD_SETTINGS 129

void DefaultMachineSettings(MachineSettings* settings);
// Brings each value outside its range back to its default.
void RepairMachineSettings(MachineSettings* settings);
// Reads the machine key: the defaults where it holds none of the six values
// (Sync on included), otherwise what it holds, repaired; "Sync" is on by the
// presence of a REG_SZ value, as in the per-user store.
void ReadMachineSettings(MachineSettings* settings);
// Writes all six values together. ERROR_SUCCESS or the registry's error.
LONG WriteMachineSettings(const MachineSettings* settings);
