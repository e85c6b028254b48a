// Reading and writing the settings values that quorvane's per-user and
// machine stores share.
#pragma once

#include <windows.h>

// A REG_DWORD-like value: one shorter than 4 bytes is taken zero-extended, a
// longer one not at all. False when it is not taken.
bool ReadDwordSetting(HKEY key, const char* name, LONG* field);
// A flag is on while a REG_SZ value of that name exists.
bool ReadFlagSetting(HKEY key, const char* name);
void WriteFlagSetting(HKEY key, const char* name, bool on);
