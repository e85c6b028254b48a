#include "machine_settings.h"

#include "registry_values.h"

// The default server of the per-user store, which the machine store shares.
#include "settings.h"

namespace {

const char* const SettingNames[] = {"Server", "Sync", "SyncInterval", "MaxDelay", "Tolerance", "TimeShift"};

void Repair(LONG* field, LONG low, LONG high, LONG fallback)
{
    if (*field < low || *field > high)
        *field = fallback;
}

bool HoldsAnySetting(HKEY key)
{
    for (const char* name : SettingNames)
        if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            return true;
    return false;
}

void ReadServerValue(HKEY key, MachineSettings* settings)
{
    // Into a scratch buffer: a value that does not fit, or one stored without
    // its NUL, must never leave the field cut or unterminated.
    char server[sizeof settings->Server + 1];
    DWORD size = sizeof settings->Server;
    DWORD type;
    if (RegQueryValueExA(key, "Server", nullptr, &type, reinterpret_cast<BYTE*>(server), &size) != ERROR_SUCCESS
        || type != REG_SZ)
        return;
    server[size] = '\0';
    if (lstrlenA(server) >= int(sizeof settings->Server) || server[0] == '\0')
        return;
    lstrcpynA(settings->Server, server, sizeof settings->Server);
}

LONG WriteDword(HKEY key, const char* name, LONG value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

} // namespace

void DefaultMachineSettings(MachineSettings* settings)
{
    ZeroMemory(settings, sizeof *settings);
    lstrcpynA(settings->Server, DEFAULT_SERVER, sizeof settings->Server);
    settings->Sync = 1;
    settings->SyncInterval = 30;
    settings->MaxDelay = 500;
    settings->Tolerance = 200;
    settings->TimeShift = 0;
}

void RepairMachineSettings(MachineSettings* settings)
{
    // 0 or a negative interval would ask the server in a tight loop.
    Repair(&settings->SyncInterval, 1, 1440, 30);
    Repair(&settings->MaxDelay, 1, 1000, 500);
    Repair(&settings->Tolerance, 0, 1000, 200);
    Repair(&settings->TimeShift, -300, 300, 0);
    settings->Sync = settings->Sync ? 1 : 0;
}

void ReadMachineSettings(MachineSettings* settings)
{
    DefaultMachineSettings(settings);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, MACHINE_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (HoldsAnySetting(key)) {
        ReadServerValue(key, settings);
        settings->Sync = ReadFlagSetting(key, "Sync") ? 1 : 0;
        ReadDwordSetting(key, "SyncInterval", &settings->SyncInterval);
        ReadDwordSetting(key, "MaxDelay", &settings->MaxDelay);
        ReadDwordSetting(key, "Tolerance", &settings->Tolerance);
        ReadDwordSetting(key, "TimeShift", &settings->TimeShift);
        RepairMachineSettings(settings);
    }
    RegCloseKey(key);
}

LONG WriteMachineSettings(const MachineSettings* settings)
{
    HKEY key;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, MACHINE_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegSetValueExA(key, "Server", 0, REG_SZ, reinterpret_cast<const BYTE*>(settings->Server),
                            lstrlenA(settings->Server) + 1);
    if (result == ERROR_SUCCESS)
        result = WriteDword(key, "SyncInterval", settings->SyncInterval);
    if (result == ERROR_SUCCESS)
        result = WriteDword(key, "MaxDelay", settings->MaxDelay);
    if (result == ERROR_SUCCESS)
        result = WriteDword(key, "Tolerance", settings->Tolerance);
    if (result == ERROR_SUCCESS)
        result = WriteDword(key, "TimeShift", settings->TimeShift);
    if (result == ERROR_SUCCESS) {
        if (settings->Sync)
            result = RegSetValueExA(key, "Sync", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
        else if ((result = RegDeleteValueA(key, "Sync")) == ERROR_FILE_NOT_FOUND)
            result = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return result;
}
