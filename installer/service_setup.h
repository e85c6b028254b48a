// A product's Windows service, from the [Service] section of its script:
// installed after the files, stopped while they change, removed with them.
// Only on Windows Vista and later (by what the system has, whatever version
// a compatibility mode reports), where a product's program may no longer
// hold such rights as setting the clock itself; elsewhere there is none.
#pragma once

#include <windows.h>

#include "script_rules.h"

struct ServiceSection {
    bool present;
    char name[260];
    char displayName[260];
    char description[512];
    char program[PathSize];  // relative to the destination
    const char* account;     // "NT AUTHORITY\LocalService" or "...\NetworkService"
    bool automatic;          // delayed automatic start, or on demand
    char privileges[256];    // comma-separated
    char key[PathSize];      // below HKEY_LOCAL_MACHINE\SOFTWARE, with a subkey Status
    bool eventLog;           // the program is the Application log's source Name
};

extern ServiceSection g_service;

// Reads and checks the section (the files must be counted); false for a
// broken one. A service or event source of that Name that exists and is not
// the earlier installation's own is refused too: nothing of it is touched.
bool LoadServiceSection();
// Whether the product may go to `destination`: with a service, only below
// Program Files, on a volume that keeps access rights, into a folder that
// Setup creates now or the earlier installation's own (a replaceable
// program would run with the service's rights). Shows the message.
bool ServiceAllowsDestination(HWND owner, const char* destination);
// Whether a folder that existed before must be made the product's own
// before anything is copied into it (a service's program runs from there).
bool ServiceNeedsProtectedFolder();
// Stops the running service (at most 30 s) so that its program can change.
void StopProductService();
// Creates or reconfigures the service, its keys and event source, and
// starts it. False (after a message naming the step and the error) on failure.
bool InstallProductService();
// Starts the service again (an update or removal that ended early).
void StartProductService();
// Deletes the stopped service, its key and its event source.
void RemoveProductService();
