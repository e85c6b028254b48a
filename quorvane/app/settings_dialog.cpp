#include "settings_dialog.h"

#include <objbase.h>

#include <cstdarg>

#include "../res/resource.h"
#include "announcer.h"
#include "clock.h"
#include "machine_settings.h"
#include "machine_store.h"
#include "main_window.h"
#include "settings.h"
#include "shortcut.h"
#include "sync_attempt.h"

namespace {

bool IsChecked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void Enable(HWND dialog, int id, bool enabled)
{
    EnableWindow(GetDlgItem(dialog, id), enabled);
}

// Reads a number field and checks its range, showing message 7 (not a
// number) or 6 (out of range) on failure.
bool ReadNumber(HWND dialog, int id, bool isSigned, LONG low, LONG high, LONG* value)
{
    BOOL translated = FALSE;
    const LONG number = LONG(GetDlgItemInt(dialog, id, &translated, isSigned));
    if (!translated) {
        ShowResourceMessage(dialog, IDS_NOT_A_NUMBER, MB_ICONHAND);
        return false;
    }
    if (number < low || number > high) {
        ShowResourceMessage(dialog, IDS_OUT_OF_RANGE, MB_ICONHAND);
        return false;
    }
    *value = number;
    return true;
}

// While the clock service is installed, the synchronisation settings of both
// dialogs are the machine's: read when the settings dialog opens, edited in
// memory, written once by its OK.
struct MachineEdit {
    bool active;
    MachineSettings original;
    MachineSettings values;
};
MachineEdit g_machine;

// Radio buttons and the values they stand for; the last is the fallback.
struct Choice {
    int id;
    LONG value;
};
const Choice IntervalChoices[] = {{IDC_VOICE_HOURLY, 60}, {IDC_VOICE_HALF_HOURLY, 30}, {IDC_VOICE_NONE, 0}};
const Choice VolumeChoices[] = {{IDC_VOLUME_SMALL, 33}, {IDC_VOLUME_MEDIUM, 66}, {IDC_VOLUME_LARGE, 100}};

void CheckChoice(HWND dialog, const Choice (&choices)[3], LONG value)
{
    int id = choices[2].id;
    for (const Choice& choice : choices) {
        if (choice.value == value) {
            id = choice.id;
            break;
        }
    }
    CheckDlgButton(dialog, id, BST_CHECKED);
}

LONG CheckedChoice(HWND dialog, const Choice (&choices)[3])
{
    for (int i = 0; i < 2; ++i) {
        if (IsChecked(dialog, choices[i].id))
            return choices[i].value;
    }
    return choices[2].value;
}

void InitSettingsDialog(HWND dialog)
{
    g_machine.active = RefreshServiceMode();
    LONG sync = g_settings.Sync, interval = g_settings.SyncInterval;
    if (g_machine.active) {
        ReadMachineSettings(&g_machine.original);
        g_machine.values = g_machine.original;
        sync = g_machine.values.Sync;
        interval = g_machine.values.SyncInterval;
    } else if (!EnableSystemTimePrivilege()) {
        Enable(dialog, IDC_SYNC, false); // this user may not set the clock
    }
    CheckDlgButton(dialog, IDC_SYNC, sync ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemInt(dialog, IDC_SYNC_INTERVAL, UINT(interval), FALSE);
    SendDlgItemMessageA(dialog, IDC_SYNC_INTERVAL, EM_LIMITTEXT, 4, 0);
    if (!VoiceArchiveAvailable()) {
        Enable(dialog, IDC_VOICE_HOURLY, false);
        Enable(dialog, IDC_VOICE_HALF_HOURLY, false);
        Enable(dialog, IDC_VOICE_NONE, false);
    }
    CheckChoice(dialog, IntervalChoices, g_settings.VoiceInterval);
    CheckChoice(dialog, VolumeChoices, g_settings.VoiceVolume);
    char shortcut[MAX_PATH];
    if (GetStartupShortcutPath(shortcut, sizeof shortcut) && ShortcutExists(shortcut))
        CheckDlgButton(dialog, IDC_AUTOSTART, BST_CHECKED);
    UpdateSettingsControls(dialog);
    PlaceNearCursor(dialog);
}

void ApplyAutostart(HWND dialog)
{
    char shortcut[MAX_PATH];
    // Without a complete path no file is touched.
    if (!GetStartupShortcutPath(shortcut, sizeof shortcut))
        return;
    if (!IsChecked(dialog, IDC_AUTOSTART)) {
        DeleteFileA(shortcut);
        return;
    }
    if (FAILED(CoInitialize(nullptr)))
        return;
    char program[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        CreateShortcut(shortcut, program, nullptr, nullptr, nullptr, nullptr, 0, SW_SHOWNORMAL);
    CoUninitialize();
}

bool SameMachineSettings(const MachineSettings& a, const MachineSettings& b)
{
    return lstrcmpA(a.Server, b.Server) == 0 && a.Sync == b.Sync && a.SyncInterval == b.SyncInterval
        && a.MaxDelay == b.MaxDelay && a.Tolerance == b.Tolerance && a.TimeShift == b.TimeShift;
}

// Writes the machine values once, and only when they changed: an unchanged
// OK asks nobody for administrator rights.
bool ApplyMachineSettings(HWND dialog, bool sync, LONG interval)
{
    g_machine.values.Sync = sync ? 1 : 0;
    g_machine.values.SyncInterval = interval;
    if (SameMachineSettings(g_machine.values, g_machine.original))
        return true;
    if (!StoreMachineSettings(dialog, g_machine.values)) {
        MessageBoxA(dialog, "時刻合わせの設定は変更されませんでした。", "Quorvane", MB_ICONEXCLAMATION);
        return false;
    }
    g_machine.original = g_machine.values;
    return true;
}

void OnSettingsOk(HWND dialog)
{
    const bool sync = IsChecked(dialog, IDC_SYNC);
    LONG interval;
    if (!ReadNumber(dialog, IDC_SYNC_INTERVAL, false, 1, 1440, &interval))
        return;
    if (g_machine.active) {
        // The dialog stays open with the values typed when they were not written.
        if (!ApplyMachineSettings(dialog, sync, interval))
            return;
    } else {
        g_settings.Sync = sync ? 1 : 0;
        g_settings.SyncInterval = interval;
    }
    g_settings.VoiceInterval = CheckedChoice(dialog, IntervalChoices);
    g_settings.VoiceVolume = CheckedChoice(dialog, VolumeChoices);
    ApplyAutostart(dialog);
    EndDialog(dialog, IDOK);
}

void OnSettingsCommand(HWND dialog, WORD command)
{
    switch (command) {
    case IDOK:
        OnSettingsOk(dialog);
        return;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return;
    case IDC_ADVANCED:
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ADVANCED), dialog, AdvancedSettingsDialog, 0);
        break;
    case IDC_VOLUME_TEST:
        // The volume as chosen now, not as stored.
        PlayTestClip(CheckedChoice(dialog, VolumeChoices));
        break;
    case IDC_QUIET_SETTINGS:
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_QUIET_HOURS), dialog, QuietHoursDialog, 0);
        break;
    }
    UpdateSettingsControls(dialog);
}

// Dialog 110: when the talking clock keeps quiet. Times are typed as hours
// and minutes; the record holds minutes of the local day.

const int QuietTimeFields[] = {IDC_QUIET_FROM_HOUR, IDC_QUIET_FROM_MINUTE, IDC_QUIET_TO_HOUR, IDC_QUIET_TO_MINUTE};

void PutQuietTime(HWND dialog, int hourId, LONG minuteOfDay)
{
    SetDlgItemInt(dialog, hourId, UINT(minuteOfDay / 60), FALSE);
    char minute[8];
    wsprintfA(minute, "%02d", int(minuteOfDay % 60));
    SetDlgItemTextA(dialog, hourId + 1, minute); // the minute field follows its hour
}

void UpdateQuietFields(HWND dialog)
{
    for (int id : QuietTimeFields)
        Enable(dialog, id, IsChecked(dialog, IDC_QUIET_HOURS));
}

void InitQuietDialog(HWND dialog)
{
    CheckDlgButton(dialog, IDC_QUIET_HOURS, g_settings.QuietHours ? BST_CHECKED : BST_UNCHECKED);
    PutQuietTime(dialog, IDC_QUIET_FROM_HOUR, g_settings.QuietFrom);
    PutQuietTime(dialog, IDC_QUIET_TO_HOUR, g_settings.QuietTo);
    for (int id : QuietTimeFields)
        SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, 2, 0);
    CheckDlgButton(dialog, IDC_QUIET_WHEN_BUSY, g_settings.QuietWhenBusy ? BST_CHECKED : BST_UNCHECKED);
    UpdateQuietFields(dialog);
}

bool ReadQuietTime(HWND dialog, int hourId, LONG* minuteOfDay)
{
    LONG hour, minute;
    if (!ReadNumber(dialog, hourId, false, 0, 23, &hour) || !ReadNumber(dialog, hourId + 1, false, 0, 59, &minute))
        return false;
    *minuteOfDay = hour * 60 + minute;
    return true;
}

void OnQuietOk(HWND dialog)
{
    const bool quiet = IsChecked(dialog, IDC_QUIET_HOURS);
    LONG from = g_settings.QuietFrom, to = g_settings.QuietTo;
    // Unchecked, the times are not read (and keep what was stored), as the
    // time shift of the advanced dialog.
    if (quiet && !(ReadQuietTime(dialog, IDC_QUIET_FROM_HOUR, &from) && ReadQuietTime(dialog, IDC_QUIET_TO_HOUR, &to)))
        return;
    g_settings.QuietHours = quiet ? 1 : 0;
    g_settings.QuietFrom = from;
    g_settings.QuietTo = to;
    g_settings.QuietWhenBusy = IsChecked(dialog, IDC_QUIET_WHEN_BUSY) ? 1 : 0;
    EndDialog(dialog, IDOK);
}

// Dialog 109.

constexpr int ServerCapacity = 256;

struct AdvancedValues {
    char server[ServerCapacity];
    LONG maxDelay;
    LONG tolerance;
    LONG timeShift;
};

void UpdateShiftField(HWND dialog)
{
    Enable(dialog, IDC_SHIFT, IsChecked(dialog, IDC_SHIFT_ON));
}

void PutAdvancedValues(HWND dialog, const char* server, LONG maxDelay, LONG tolerance, LONG timeShift)
{
    SetDlgItemTextA(dialog, IDC_SERVER, server);
    SetDlgItemInt(dialog, IDC_MAX_DELAY, UINT(maxDelay), FALSE);
    SetDlgItemInt(dialog, IDC_TOLERANCE, UINT(tolerance), FALSE);
    CheckDlgButton(dialog, IDC_SHIFT_ON, timeShift != 0 ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemInt(dialog, IDC_SHIFT, UINT(timeShift), TRUE);
}

void InitAdvancedDialog(HWND dialog)
{
    if (g_machine.active)
        PutAdvancedValues(dialog, g_machine.values.Server, g_machine.values.MaxDelay, g_machine.values.Tolerance,
                          g_machine.values.TimeShift);
    else
        PutAdvancedValues(dialog, g_settings.Server, g_settings.MaxDelay, g_settings.Tolerance, g_settings.TimeShift);
    SendDlgItemMessageA(dialog, IDC_MAX_DELAY, EM_LIMITTEXT, 4, 0);
    SendDlgItemMessageA(dialog, IDC_TOLERANCE, EM_LIMITTEXT, 4, 0);
    SendDlgItemMessageA(dialog, IDC_SHIFT, EM_LIMITTEXT, 5, 0);
    UpdateShiftField(dialog);
}

// The server and the two limits, as OK and Test read them.
bool ReadServerAndLimits(HWND dialog, AdvancedValues* values)
{
    GetDlgItemTextA(dialog, IDC_SERVER, values->server, ServerCapacity);
    return ReadNumber(dialog, IDC_MAX_DELAY, false, 1, 1000, &values->maxDelay)
        && ReadNumber(dialog, IDC_TOLERANCE, false, 0, 1000, &values->tolerance);
}

bool ReadShift(HWND dialog, LONG* shift)
{
    return ReadNumber(dialog, IDC_SHIFT, true, -300, 300, shift);
}

void OnAdvancedOk(HWND dialog)
{
    AdvancedValues values;
    values.timeShift = 0; // an unchecked shift is none, whatever the field holds
    if (!ReadServerAndLimits(dialog, &values) || (IsChecked(dialog, IDC_SHIFT_ON) && !ReadShift(dialog, &values.timeShift)))
        return;
    if (g_machine.active) {
        // Kept in memory until the settings dialog's OK writes them.
        lstrcpynA(g_machine.values.Server, values.server, sizeof g_machine.values.Server);
        g_machine.values.MaxDelay = values.maxDelay;
        g_machine.values.Tolerance = values.tolerance;
        g_machine.values.TimeShift = values.timeShift;
    } else {
        lstrcpynA(g_settings.Server, values.server, ServerCapacity);
        g_settings.MaxDelay = values.maxDelay;
        g_settings.Tolerance = values.tolerance;
        g_settings.TimeShift = values.timeShift;
    }
    EndDialog(dialog, IDOK);
}

void OnAdvancedTest(HWND dialog)
{
    AdvancedValues values;
    if (!ReadServerAndLimits(dialog, &values) || !ReadShift(dialog, &values.timeShift))
        return;
    SyncRequest request = {Test, values.server, DWORD(values.maxDelay), DWORD(values.tolerance), values.timeShift};
    // Refused while a visible progress window exists: nothing happens.
    StartSyncAttempt(dialog, &request, TRUE);
}

void OnAdvancedCommand(HWND dialog, WORD command)
{
    switch (command) {
    case IDOK:
        OnAdvancedOk(dialog);
        return;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return;
    case IDC_TEST:
        OnAdvancedTest(dialog);
        break;
    case IDC_DEFAULTS:
        PutAdvancedValues(dialog, DEFAULT_SERVER, 500, 200, 0);
        break;
    }
    UpdateShiftField(dialog);
}

} // namespace

void UpdateSettingsControls(HWND dialog)
{
    const bool sync = IsWindowEnabled(GetDlgItem(dialog, IDC_SYNC)) && IsChecked(dialog, IDC_SYNC);
    Enable(dialog, IDC_SYNC_INTERVAL, sync);
    Enable(dialog, IDC_ADVANCED, sync);
    const bool voice = IsWindowEnabled(GetDlgItem(dialog, IDC_VOICE_NONE)) && !IsChecked(dialog, IDC_VOICE_NONE);
    static const int volumeControls[] = {IDC_VOLUME_SMALL, IDC_VOLUME_MEDIUM, IDC_VOLUME_LARGE, IDC_VOLUME_TEST,
                                         IDC_QUIET_SETTINGS};
    for (int id : volumeControls)
        Enable(dialog, id, voice);
}

int ShowResourceMessage(HWND owner, UINT id, UINT style, ...)
{
    char format[256];
    if (!LoadStringA(GetModuleHandleA(nullptr), id, format, sizeof format))
        return 0;
    // wvsprintf writes at most 1024 bytes; the text is then cut to 255.
    char formatted[1025];
    va_list arguments;
    va_start(arguments, style);
    wvsprintfA(formatted, format, arguments);
    va_end(arguments);
    char text[256];
    lstrcpynA(text, formatted, sizeof text);
    return MessageBoxA(owner, text, nullptr, style);
}

bool PlaceNearCursor(HWND window)
{
    RECT workArea, rect;
    POINT cursor;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0) || !GetWindowRect(window, &rect)
        || !GetCursorPos(&cursor))
        return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    int x = cursor.x, y = cursor.y;
    if (cursor.x + width > workArea.right)
        x = workArea.right - width - 8;
    if (cursor.y + height > workArea.bottom)
        y = workArea.bottom - height - 8;
    return SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER) != FALSE;
}

INT_PTR CALLBACK SettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitSettingsDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        OnSettingsCommand(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK AdvancedSettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitAdvancedDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        OnAdvancedCommand(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK QuietHoursDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        InitQuietDialog(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    if (LOWORD(wParam) == IDOK)
        OnQuietOk(dialog);
    else if (LOWORD(wParam) == IDCANCEL)
        EndDialog(dialog, IDCANCEL);
    else
        UpdateQuietFields(dialog);
    return TRUE;
}
