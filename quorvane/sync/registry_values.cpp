#include "registry_values.h"

bool ReadDwordSetting(HKEY key, const char* name, LONG* field)
{
    // A value shorter than 4 bytes is taken zero-extended; a longer one is
    // not taken at all.
    BYTE value[4] = {0, 0, 0, 0};
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, nullptr, value, &size) != ERROR_SUCCESS)
        return false;
    *field = LONG(value[0] | value[1] << 8 | value[2] << 16 | DWORD(value[3]) << 24);
    return true;
}

bool ReadFlagSetting(HKEY key, const char* name)
{
    DWORD type;
    return RegQueryValueExA(key, name, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS && type == REG_SZ;
}

void WriteFlagSetting(HKEY key, const char* name, bool on)
{
    if (on)
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 0);
    else
        RegDeleteValueA(key, name);
}
