// The clock service's life under the service control manager.
#pragma once

#include <windows.h>

// The entry that StartServiceCtrlDispatcher calls.
void WINAPI ClockServiceMain(DWORD argc, char** argv);
