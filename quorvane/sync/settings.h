// The settings record of quorvane and its storage under
// HKEY_CURRENT_USER\Software\veskar\quorvane.
#pragma once

#include <windows.h>

#include "registry_values.h"

#define SETTINGS_KEY "Software\\veskar\\quorvane"
// Japan's national time service (NICT), which serves the public; the NTP
// Pool asks products not to ship its zone names as their default.
#define DEFAULT_SERVER "ntp.nict.jp"

struct AppSettings {
    char Server[260];  // at most 255 bytes and the NUL
    LONG Sync;         // automatic synchronisation on (1) or off (0)
    LONG SyncInterval; // minutes between automatic synchronisations
    LONG VoiceInterval; // 0 none, 60 hourly, 30 half-hourly
    LONG VoiceVolume;  // percent of the recorded level: 33, 66 or 100
    LONG PosX;         // reserved: kept as loaded
    LONG PosY;
    LONG MaxDelay;     // ms
    LONG Tolerance;    // ms
    LONG TimeShift;    // s
    LONG QuietHours;   // no announcements from QuietFrom to QuietTo (1) or none such (0)
    LONG QuietFrom;    // minute of the local day, 0 to 1439
    LONG QuietTo;      // the first minute that speaks again, 0 to 1439
    LONG QuietWhenBusy; // silent while presenting, full screen or away (1)
};

#define DEFAULT_QUIET_FROM (22 * 60)
#define DEFAULT_QUIET_TO (7 * 60)

extern AppSettings g_settings;

void SetDefaultSettings();
// Loads the record (defaults for what is missing, repairs what is out of
// range). Always succeeds.
bool LoadSettings();
// Writes every value back; "Sync" is stored by the presence of an empty
// REG_SZ value. Always reports success.
bool SaveSettings();

