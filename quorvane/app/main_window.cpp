#include "main_window.h"

#include <shellapi.h>
#include <wininet.h>

#include "../res/resource.h"
#include "about_dialog.h"
#include "announcer.h"
#include "clock.h"
#include "presence.h"
#include "settings.h"
#include "server_kiss.h"
#include "service_link.h"
#include "settings_dialog.h"
#include "sync_attempt.h"

HINSTANCE g_instance;
HICON g_smallIcon;
HMENU g_popupMenu;
bool g_serviceMode;

namespace {

// Broadcast by the shell when the taskbar is created anew (Explorer restarted).
const UINT g_taskbarCreated = RegisterWindowMessageA("TaskbarCreated");

// -1: start an attempt at the next tick that finds a connection; otherwise
// the sync ticks since the last attempt started.
LONG g_minutesSinceSync = -1;

void ArmMinuteTimer(HWND window)
{
    SYSTEMTIME now;
    ReadLocalClock(&now);
    SetTimer(window, IDT_MINUTE, MillisecondsToNextMinute(now), nullptr);
}

// Lock and disconnect notifications of this session. At logon the terminal
// service may not be ready yet: the registration is tried again at the next
// few minute ticks.
int g_sessionWatchTries;
bool g_sessionWatched;

void WatchSession(HWND window)
{
    if (g_sessionWatched || g_sessionWatchTries >= 5)
        return;
    ++g_sessionWatchTries;
    g_sessionWatched = RegisterSessionNotifications(window);
}

void UnwatchSession(HWND window)
{
    if (g_sessionWatched)
        UnregisterSessionNotifications(window);
    g_sessionWatched = false;
}

void OnMinuteTick(HWND window, const SYSTEMTIME& now)
{
    const MinuteTickAction action = MinuteTickActionAt(now, g_settings.VoiceInterval);
    if (action != MinuteSkipped)
        UpdateTrayIcon(window, TrayModify);
    if (action == MinuteAnnounced)
        AnnounceIfWelcome(now);
    WatchSession(window);
    // From a fresh reading: an announcement may have taken a while.
    ArmMinuteTimer(window);
}

uint32_t SyncIntervalMinutes()
{
    return g_settings.SyncInterval > 0 ? uint32_t(g_settings.SyncInterval) : 1;
}

// One minute of the scheduler: an automatic attempt when it is due, the
// connection is up and no kiss code of the server holds it back.
void StartDueAttempt(HWND window)
{
    if (!g_settings.Sync)
        return;
    if (!KissAllowsAutomaticAttempt(&g_serverKiss, g_settings.Server, SyncIntervalMinutes())) {
        g_minutesSinceSync = -1; // the first tick the server allows starts one
        return;
    }
    DWORD flags;
    if (!SyncTickStartsAttempt(&g_minutesSinceSync, InternetGetConnectedState(&flags, 0) != FALSE,
                               g_settings.SyncInterval))
        return;
    SyncRequest request = {Synchronise, g_settings.Server, DWORD(g_settings.MaxDelay), DWORD(g_settings.Tolerance),
                           g_settings.TimeShift};
    // Refused while a visible test runs: that counts as done.
    StartSyncAttempt(window, &request, FALSE);
}

void OnSyncTick(HWND window)
{
    // While the clock service is installed it keeps the clock, not the tray.
    if (!g_serviceMode)
        StartDueAttempt(window);
    SetTimer(window, IDT_SYNC, 60000, nullptr);
}

const char SyncNowLabel[] = "今すぐ合わせる(&N)";
const UINT SeparatorPosition = 2; // after "設定" and "情報"

// "今すぐ合わせる" stands after "設定" and "情報" while the service is
// installed, above "今の時刻を話す" and the separator.
void UpdateSyncNowItem()
{
    const bool present = GetMenuState(g_popupMenu, IDM_SYNC_NOW, MF_BYCOMMAND) != UINT(-1);
    if (g_serviceMode && !present)
        InsertMenuA(g_popupMenu, SeparatorPosition, MF_BYPOSITION | MF_STRING, IDM_SYNC_NOW, SyncNowLabel);
    else if (!g_serviceMode && present)
        DeleteMenu(g_popupMenu, IDM_SYNC_NOW, MF_BYCOMMAND);
}

void ShowPopupMenu(HWND window)
{
    RefreshServiceMode();
    UpdateSyncNowItem();
    // Without voice.dat there is nothing to say.
    EnableMenuItem(g_popupMenu, IDM_SPEAK_NOW, MF_BYCOMMAND | (VoiceArchiveAvailable() ? MF_ENABLED : MF_GRAYED));
    // The menu closes properly only if its owner is in the foreground.
    SetForegroundWindow(window);
    POINT cursor;
    GetCursorPos(&cursor);
    TrackPopupMenu(g_popupMenu, TPM_BOTTOMALIGN | TPM_LEFTALIGN, cursor.x, cursor.y, 0, window, nullptr);
    PostMessageA(window, WM_NULL, 0, 0);
}

void OnTrayNotify(HWND window, LPARAM event)
{
    if (event == WM_LBUTTONDOWN) {
        SetForegroundWindow(window);
    } else if (event == WM_RBUTTONDOWN) {
        ShowPopupMenu(window);
    }
}

void OnCommand(HWND window, WORD command)
{
    switch (command) {
    case IDM_EXIT:
        DestroyWindow(window);
        break;
    case IDM_SETTINGS:
        DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_SETTINGS), window, SettingsDialog, 0);
        break;
    case IDM_ABOUT:
        DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_ABOUT), window, AboutDialog, 0);
        break;
    case IDM_SYNC_NOW:
        ShowServiceSynchronisation(window);
        break;
    case IDM_SPEAK_NOW:
        SpeakTimeNow();
        break;
    }
}

void AllowShellMessages(HWND window)
{
    // An elevated copy would otherwise never hear from a restarted Explorer
    // (which runs with lower rights) nor get the clicks on its icon.
    typedef BOOL(WINAPI * FilterForWindow)(HWND, UINT, DWORD, void*);
    typedef BOOL(WINAPI * FilterForProcess)(UINT, DWORD);
    const DWORD Allow = 1; // MSGFLT_ALLOW, and MSGFLT_ADD for the older call
    HMODULE user = GetModuleHandleA("user32.dll");
    FARPROC forWindow = user ? GetProcAddress(user, "ChangeWindowMessageFilterEx") : nullptr;
    FARPROC forProcess = user ? GetProcAddress(user, "ChangeWindowMessageFilter") : nullptr;
    const UINT messages[] = {g_taskbarCreated, WM_TRAYNOTIFY};
    for (UINT message : messages) {
        if (message == 0)
            continue;
        if (forWindow) // Windows 7 and later
            reinterpret_cast<FilterForWindow>(reinterpret_cast<void (*)()>(forWindow))(window, message, Allow, nullptr);
        else if (forProcess) // Windows Vista
            reinterpret_cast<FilterForProcess>(reinterpret_cast<void (*)()>(forProcess))(message, Allow);
    }
}

void OnCreate(HWND window, const SYSTEMTIME& now)
{
    RefreshServiceMode();
    AllowShellMessages(window);
    UpdateTrayIcon(window, TrayAdd);
    SetTimer(window, IDT_MINUTE, MillisecondsToNextMinute(now), nullptr);
    SetTimer(window, IDT_SYNC, 1000, nullptr);
    WatchSession(window);
}

void OnDestroy(HWND window)
{
    KillTimer(window, IDT_MINUTE);
    KillTimer(window, IDT_SYNC);
    UnwatchSession(window);
    UpdateTrayIcon(window, TrayDelete);
    PostQuitMessage(0);
}

} // namespace

bool RefreshServiceMode()
{
    g_serviceMode = ClockServiceInstalled();
    return g_serviceMode;
}

bool SyncTickStartsAttempt(LONG* minutesSinceSync, bool connected, LONG syncInterval)
{
    if (!connected) {
        *minutesSinceSync = -1; // the first connected tick starts one at once
        return false;
    }
    if (++*minutesSinceSync != 0 && *minutesSinceSync < syncInterval)
        return false;
    *minutesSinceSync = 0;
    return true;
}

MinuteTickAction MinuteTickActionAt(const SYSTEMTIME& now, LONG voiceInterval)
{
    // A tick late by ten seconds or more (a busy system, a clock just set)
    // skips that minute.
    if (now.wSecond >= 10)
        return MinuteSkipped;
    if (voiceInterval != 0 && now.wMinute % voiceInterval == 0)
        return MinuteAnnounced;
    return MinuteRefreshed;
}

UINT MillisecondsToNextMinute(const SYSTEMTIME& now)
{
    return (60 - now.wSecond % 60) * 1000 - now.wMilliseconds % 1000;
}

void UpdateTrayIcon(HWND window, TrayAction action)
{
    SYSTEMTIME now;
    ReadLocalClock(&now);
    NOTIFYICONDATAA icon;
    ZeroMemory(&icon, sizeof icon);
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE; // the first form: 88 bytes
    icon.hWnd = window;
    icon.uID = TRAY_ICON_ID;
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = WM_TRAYNOTIFY;
    icon.hIcon = g_smallIcon;
    wsprintfA(icon.szTip, "%d/%d/%d %d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute);
    static const DWORD actions[] = {NIM_ADD, NIM_MODIFY, NIM_DELETE};
    // An icon that was never added (the shell was not ready at logon) or
    // that the shell lost is added again by the next minute's refresh.
    if (!Shell_NotifyIconA(actions[action], &icon) && action == TrayModify)
        Shell_NotifyIconA(NIM_ADD, &icon);
}

HICON LoadSystemSizedIcon(int widthMetric, int heightMetric)
{
    return static_cast<HICON>(LoadImageA(g_instance, MAKEINTRESOURCEA(IDI_QUORVANE), IMAGE_ICON,
                                         GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric),
                                         LR_DEFAULTCOLOR));
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    SYSTEMTIME now;
    ReadLocalClock(&now);
    if (g_taskbarCreated != 0 && message == g_taskbarCreated) {
        UpdateTrayIcon(window, TrayAdd);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    switch (message) {
    case WM_CREATE:
        OnCreate(window, now);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case WM_CLOSE:
    case WM_ENDSESSION:
        SaveSettings();
        break;
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == IDT_MINUTE)
            OnMinuteTick(window, now);
        else if (wParam == IDT_SYNC)
            OnSyncTick(window);
        return 0;
    case WM_TRAYNOTIFY:
        OnTrayNotify(window, lParam);
        return 0;
    case WM_WTSSESSION_CHANGE:
        NoteSessionNotification(unsigned(wParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterMainWindowClass(HICON icon)
{
    WNDCLASSEXA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = g_instance;
    windowClass.hIcon = icon;
    windowClass.hIconSm = g_smallIcon;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    return RegisterClassExA(&windowClass) != 0;
}
