#include "main_window.h"

#include <shellapi.h>
#include <shlwapi.h> // DLLVERSIONINFO only: DllGetVersion is looked up at run time
#include <wininet.h>

#include "../res/resource.h"
#include "about_dialog.h"
#include "announce_policy.h"
#include "announcer.h"
#include "clock.h"
#include "presence.h"
#include "health_view.h"
#include "settings.h"
#include "server_kiss.h"
#include "service_link.h"
#include "settings_dialog.h"
#include "sync_attempt.h"
#include "tray_shell.h"

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


// shell32's version as major * 100 + minor; 0 where it does not say.
DWORD ShellVersion()
{
    static DWORD version = DWORD(-1);
    if (version != DWORD(-1))
        return version;
    version = 0;
    typedef HRESULT(CALLBACK * GetVersionFunction)(DLLVERSIONINFO*);
    HMODULE shell = GetModuleHandleA("shell32.dll");
    FARPROC function = shell ? GetProcAddress(shell, "DllGetVersion") : nullptr;
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    if (function && SUCCEEDED(reinterpret_cast<GetVersionFunction>(reinterpret_cast<void (*)()>(function))(&info)))
        version = info.dwMajorVersion * 100 + info.dwMinorVersion;
    return version;
}

// A warning triangle over the icon's lower right corner. In the shape pass
// it is drawn all black on white, which tells its pixels.
void DrawWarningMark(HDC dc, int size, bool shapePass)
{
    const int mark = size * 5 / 8, tip = size - 1 - (mark - 1) / 2;
    const POINT corners[] = {{size - mark, size - 1}, {size - 1, size - 1}, {tip, size - mark}};
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    HBRUSH fill = shapePass ? static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)) : CreateSolidBrush(RGB(255, 204, 0));
    HGDIOBJ oldBrush = SelectObject(dc, fill);
    Polygon(dc, corners, 3);
    if (!shapePass) {
        MoveToEx(dc, tip, size - mark + 3, nullptr);
        LineTo(dc, tip, size - 3 - mark / 8);
        MoveToEx(dc, tip, size - 2 - mark / 8, nullptr);
        LineTo(dc, tip, size - 1 - mark / 8);
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    if (!shapePass)
        DeleteObject(fill);
}

// Square 32-bit top-down pixels of `size`.
BITMAPINFO PixelFormat(int size)
{
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = size;
    format.bmiHeader.biHeight = -size; // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    return format;
}

// A DIB section of those pixels.
HBITMAP CreatePixels(HDC dc, int size, DWORD** pixels)
{
    BITMAPINFO format = PixelFormat(size);
    *pixels = nullptr;
    return CreateDIBSection(dc, &format, DIB_RGB_COLORS, reinterpret_cast<void**>(pixels), nullptr, 0);
}

// The small icon's own pixels with their alpha. A frame without alpha (an
// old-style one) takes it from its mask: 0 where the mask is transparent.
bool ReadIconPixels(HDC dc, int size, DWORD* pixels)
{
    ICONINFO info;
    if (!GetIconInfo(g_smallIcon, &info))
        return false;
    BITMAPINFO format = PixelFormat(size);
    const int count = size * size;
    bool read = info.hbmColor && GetDIBits(dc, info.hbmColor, 0, UINT(size), pixels, &format, DIB_RGB_COLORS);
    DWORD alpha = 0;
    for (int i = 0; read && i < count; ++i)
        alpha |= pixels[i];
    if (read && !(alpha & 0xFF000000)) {
        DWORD* mask = static_cast<DWORD*>(HeapAlloc(GetProcessHeap(), 0, count * sizeof(DWORD)));
        read = mask && GetDIBits(dc, info.hbmMask, 0, UINT(size), mask, &format, DIB_RGB_COLORS);
        for (int i = 0; read && i < count; ++i)
            pixels[i] = (mask[i] & 0x00FFFFFF) ? 0 : pixels[i] | 0xFF000000;
        if (mask)
            HeapFree(GetProcessHeap(), 0, mask);
    }
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return read;
}

// The small icon with the warning mark, drawn once at run time. The icon
// keeps its own alpha (its soft edges); only the mark's pixels are made
// opaque, and the mask is built from that alpha, so that no pixel the
// alpha hides shows where Windows draws with the mask alone.
HICON WarningIcon()
{
    static HICON warning;
    if (warning)
        return warning;
    const int size = GetSystemMetrics(SM_CXSMICON);
    HDC dc = CreateCompatibleDC(nullptr);
    DWORD *pixels = nullptr, *shape = nullptr;
    HBITMAP color = dc ? CreatePixels(dc, size, &pixels) : nullptr;
    HBITMAP shapeBitmap = dc ? CreatePixels(dc, size, &shape) : nullptr;
    const int rowBytes = (size + 15) / 16 * 2; // monochrome rows are WORD-aligned
    BYTE* maskBits = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, rowBytes * size));
    if (pixels && shape && maskBits && ReadIconPixels(dc, size, pixels)) {
        HGDIOBJ old = SelectObject(dc, shapeBitmap);
        PatBlt(dc, 0, 0, size, size, WHITENESS);
        DrawWarningMark(dc, size, true);
        SelectObject(dc, color);
        DrawWarningMark(dc, size, false);
        GdiFlush();
        SelectObject(dc, old);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                DWORD& pixel = pixels[y * size + x];
                if ((shape[y * size + x] & 0x00FFFFFF) == 0)
                    pixel |= 0xFF000000; // the mark
                if ((pixel >> 24) == 0) {
                    pixel = 0; // black where transparent: the mask alone keeps the screen there
                    maskBits[y * rowBytes + x / 8] |= BYTE(0x80 >> (x % 8));
                }
            }
        }
        HBITMAP mask = CreateBitmap(size, size, 1, 1, maskBits);
        ICONINFO info = {TRUE, 0, 0, mask, color};
        if (mask) {
            warning = CreateIconIndirect(&info);
            DeleteObject(mask);
        }
    }
    if (maskBits)
        HeapFree(GetProcessHeap(), 0, maskBits);
    if (shapeBitmap)
        DeleteObject(shapeBitmap);
    if (color)
        DeleteObject(color);
    if (dc)
        DeleteDC(dc);
    return warning ? warning : g_smallIcon;
}

// The clock service starts some minutes after boot: a service not yet
// started alarms nobody before. GetTickCount wraps after 49.7 days, so once
// past, stay past.
DWORD UptimeMs()
{
    static bool settled;
    const DWORD uptime = GetTickCount();
    if (uptime >= ServiceStartGraceMs)
        settled = true;
    return settled ? DWORD(-1) : uptime;
}

// When this program started or the PC last woke up: a stale record alone
// alarms only once the first attempts since then have had their chance.
DWORD g_settlingSince = GetTickCount();
bool g_settled;

void StartSettling()
{
    g_settlingSince = GetTickCount();
    g_settled = false;
}

DWORD SettledMs()
{
    const DWORD since = GetTickCount() - g_settlingSince;
    if (since >= StaleEvidenceMs)
        g_settled = true;
    return g_settled ? DWORD(-1) : since;
}

// The warning the icon shows in this run (HealthGood: none), so that its
// balloon can be withdrawn when the warning ends.
ClockHealth g_shownWarning = HealthGood;

// The episode of the balloon being offered.
HealthEpisode g_offeredEpisode;

// A balloon for a new episode of a warning: once per user, whatever runs
// of the program come and go. While Windows keeps quiet time (the first hour
// after a user's first logon) it is not sent, and not counted as told.
void OfferHealthBalloon(NOTIFYICONDATAA* icon, DWORD shell, const HealthView& view)
{
    HealthEpisode told;
    ReadHealthEpisode(&told);
    if (!NewHealthEpisode(view.health, view.lastGood, told) || QueryUserNotificationState() == StateQuietTime)
        return;
    g_offeredEpisode = HealthEpisode{uint32_t(view.health), view.lastGood};
    icon->uFlags |= NIF_INFO;
    FormatHealthBalloon(icon->szInfoTitle, sizeof icon->szInfoTitle, icon->szInfo, sizeof icon->szInfo,
                        view.health, view.record.lastResult, view.serviceMode);
    icon->uTimeout = 10000; // the shortest Windows XP allows; later ones decide themselves
    // Quiet time and presentations are known to shell32 6.1 and later.
    icon->dwInfoFlags = NIIF_WARNING | (shell >= 601 ? NIIF_RESPECT_QUIET_TIME : 0);
}

// The tip's second line, the warning mark and the balloon, from the
// clock's health worked out now.
void ShowClockHealth(NOTIFYICONDATAA* icon, DWORD shell)
{
    HealthView view;
    ReadHealthView(&view);
    const WarningClock clock = {UptimeMs(), SettledMs()};
    const bool warns = HealthWarns(view.health, view.facts, clock);
    const ClockHealth shown = g_shownWarning;
    g_shownWarning = warns ? view.health : HealthGood;
    if (warns)
        icon->hIcon = WarningIcon();
    // A warning that is over is no episode any more; one still waiting for
    // its evidence (a new logon) stays the one told.
    HealthEpisode told;
    if (!IsWarningState(view.health)) {
        ReadHealthEpisode(&told);
        if (told.health != HealthGood)
            WriteHealthEpisode(HealthEpisode{HealthGood, 0});
    }
    if (shell < 500)
        return; // one line of 64 bytes: the date and time only
    SYSTEMTIME lastGood = {};
    LocalTimeOf(view.lastGood, &lastGood);
    char line[96]; // the longest line takes 52 bytes
    FormatHealthTipLine(line, sizeof line, view.health, lastGood, view.record.offsetKnown, view.record.offset);
    const int length = lstrlenA(icon->szTip);
    icon->szTip[length] = '\n';
    lstrcpynA(icon->szTip + length + 1, line, int(sizeof icon->szTip) - length - 1);
    if (warns)
        OfferHealthBalloon(icon, shell, view);
    else if (shown != HealthGood)
        icon->uFlags |= NIF_INFO; // an empty text withdraws the balloon still shown
}

// Once the shell has taken the balloon, its episode has been told.
void NoteBalloonTold(const NOTIFYICONDATAA& icon)
{
    if ((icon.uFlags & NIF_INFO) && icon.szInfo[0])
        WriteHealthEpisode(g_offeredEpisode);
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
    const DWORD shell = ShellVersion();
    // The first form (88 bytes, a tip of 64) before shell32 5; from it the
    // second, with a tip of 128 bytes and balloons.
    icon.cbSize = shell >= 500 ? NOTIFYICONDATAA_V2_SIZE : NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = window;
    icon.uID = TRAY_ICON_ID;
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = WM_TRAYNOTIFY;
    icon.hIcon = g_smallIcon;
    wsprintfA(icon.szTip, "%d/%d/%d %d:%02d", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute);
    if (action != TrayDelete)
        ShowClockHealth(&icon, shell);
    static const DWORD actions[] = {NIM_ADD, NIM_MODIFY, NIM_DELETE};
    // An icon that was never added (the shell was not ready at logon) or
    // that the shell lost is added again by the next minute's refresh.
    // An icon the shell kept (a taskbar re-created on a DPI change) cannot be
    // added again: it is refreshed instead.
    const bool done = NotifyShell(actions[action], &icon) || (action == TrayModify && NotifyShell(NIM_ADD, &icon))
                      || (action == TrayAdd && NotifyShell(NIM_MODIFY, &icon));
    // A balloon the shell did not take is offered again next minute.
    if (done)
        NoteBalloonTold(icon);
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
    case WM_SYNC_RECORDED:
        UpdateTrayIcon(window, TrayModify);
        return 0;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND)
            StartSettling(); // a PC woken after days: its first attempt comes first
        return TRUE;
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
