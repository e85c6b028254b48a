#include "settings.h"

AppSettings g_settings;

namespace {

constexpr DWORD ServerCapacity = 256; // at most 255 bytes and the NUL

// Brings a value back to its default when it lies outside [low, high].
void Repair(LONG* field, LONG low, LONG high, LONG fallback)
{
    if (*field < low || *field > high)
        *field = fallback;
}

void ReadServer(HKEY key)
{
    // Read into a scratch buffer: a value that does not fit, or one stored
    // without its NUL, must never leave the field cut or unterminated.
    char server[ServerCapacity + 1];
    DWORD size = ServerCapacity;
    if (RegQueryValueExA(key, "Server", nullptr, nullptr, reinterpret_cast<BYTE*>(server), &size) != ERROR_SUCCESS)
        return;
    server[size] = '\0';
    if (lstrlenA(server) >= int(ServerCapacity))
        return;
    lstrcpynA(g_settings.Server, server, ServerCapacity);
}

// The talking clock's quiet times. Flags other than 0 or 1 and minutes
// outside the day fall back to their defaults, so the dialog and the policy
// only ever see values they can show and compare.
void ReadQuietSettings(HKEY key)
{
    ReadDwordSetting(key, "QuietHours", &g_settings.QuietHours);
    Repair(&g_settings.QuietHours, 0, 1, 0);
    ReadDwordSetting(key, "QuietFrom", &g_settings.QuietFrom);
    Repair(&g_settings.QuietFrom, 0, 24 * 60 - 1, DEFAULT_QUIET_FROM);
    ReadDwordSetting(key, "QuietTo", &g_settings.QuietTo);
    Repair(&g_settings.QuietTo, 0, 24 * 60 - 1, DEFAULT_QUIET_TO);
    ReadDwordSetting(key, "QuietWhenBusy", &g_settings.QuietWhenBusy);
    Repair(&g_settings.QuietWhenBusy, 0, 1, 1);
}

void WriteDword(HKEY key, const char* name, LONG value)
{
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

} // namespace

void SetDefaultSettings()
{
    ZeroMemory(&g_settings, sizeof g_settings);
    lstrcpynA(g_settings.Server, DEFAULT_SERVER, sizeof g_settings.Server);
    g_settings.Sync = 1;
    g_settings.SyncInterval = 30;
    g_settings.VoiceInterval = 60;
    g_settings.VoiceVolume = 100;
    g_settings.MaxDelay = 500;
    g_settings.Tolerance = 200;
    g_settings.TimeShift = 0;
    g_settings.QuietHours = 0;
    g_settings.QuietFrom = DEFAULT_QUIET_FROM;
    g_settings.QuietTo = DEFAULT_QUIET_TO;
    g_settings.QuietWhenBusy = 1;
}

bool LoadSettings()
{
    SetDefaultSettings();
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return true; // first start: the defaults stand
    ReadServer(key);
    ReadDwordSetting(key, "SyncInterval", &g_settings.SyncInterval);
    ReadDwordSetting(key, "VoiceInterval", &g_settings.VoiceInterval);
    ReadDwordSetting(key, "VoiceVolume", &g_settings.VoiceVolume);
    Repair(&g_settings.VoiceVolume, 1, 100, 100);
    ReadDwordSetting(key, "PosX", &g_settings.PosX);
    ReadDwordSetting(key, "PosY", &g_settings.PosY);
    g_settings.Sync = ReadFlagSetting(key, "Sync") ? 1 : 0;
    ReadDwordSetting(key, "MaxDelay", &g_settings.MaxDelay);
    Repair(&g_settings.MaxDelay, 1, 1000, 500);
    ReadDwordSetting(key, "Tolerance", &g_settings.Tolerance);
    Repair(&g_settings.Tolerance, 0, 1000, 200);
    ReadDwordSetting(key, "TimeShift", &g_settings.TimeShift);
    Repair(&g_settings.TimeShift, -300, 300, 0);
    ReadQuietSettings(key);
    RegCloseKey(key);
    return true;
}

bool SaveSettings()
{
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, &disposition)
        != ERROR_SUCCESS)
        return true; // nothing can be written; nothing is reported
    RegSetValueExA(key, "Server", 0, REG_SZ, reinterpret_cast<const BYTE*>(g_settings.Server),
                   lstrlenA(g_settings.Server) + 1);
    WriteDword(key, "SyncInterval", g_settings.SyncInterval);
    WriteFlagSetting(key, "Sync", g_settings.Sync != 0);
    WriteDword(key, "VoiceInterval", g_settings.VoiceInterval);
    WriteDword(key, "VoiceVolume", g_settings.VoiceVolume);
    WriteDword(key, "PosX", g_settings.PosX);
    WriteDword(key, "PosY", g_settings.PosY);
    WriteDword(key, "MaxDelay", g_settings.MaxDelay);
    WriteDword(key, "Tolerance", g_settings.Tolerance);
    WriteDword(key, "TimeShift", g_settings.TimeShift);
    WriteDword(key, "QuietHours", g_settings.QuietHours);
    WriteDword(key, "QuietFrom", g_settings.QuietFrom);
    WriteDword(key, "QuietTo", g_settings.QuietTo);
    WriteDword(key, "QuietWhenBusy", g_settings.QuietWhenBusy);
    RegCloseKey(key);
    return true;
}
