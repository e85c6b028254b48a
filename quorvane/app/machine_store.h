// Writing the clock service's machine settings from the tray program: at
// once where this process may write them, otherwise through a copy of
// quorvane started with administrator rights.
#pragma once

#include <windows.h>

#include "machine_values.h"

// Writes all six values and asks the service to read them. A process that
// may not write the machine key starts `quorvane.exe /machine-settings ...`
// with the verb "runas" and waits for it, keeping `owner` disabled. False
// when the settings were not changed (the user declined, the copy failed).
bool StoreMachineSettings(HWND owner, const MachineSettings& settings);

// The elevated copy's work, before anything else of the program runs: the
// arguments after the switch are checked with the dialogs' rules, written
// and announced to the service. Returns the exit code: 0, or the error.
int RunMachineSettingsCommand(const char* arguments);
// The arguments after MACHINE_SETTINGS_SWITCH, or null for another command line.
const char* MachineSettingsArguments(const char* commandLine);
