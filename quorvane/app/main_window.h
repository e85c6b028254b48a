// The hidden main window: tray icon, popup menu and the two timers.
#pragma once

#include <windows.h>

#define MAIN_WINDOW_CLASS "Quorvane"
#define WM_TRAYNOTIFY (WM_APP + 100)
#define IDT_MINUTE 1 // fires at each minute boundary of the local clock
#define IDT_SYNC 2   // first after 1 s, then every 60 s
#define TRAY_ICON_ID 1

enum TrayAction { TrayAdd = 0, TrayModify = 1, TrayDelete = 2 };
// What a tick of the minute timer does: nothing (it came ten seconds or more
// after the minute), refresh the icon's tip, or refresh it and speak.
enum MinuteTickAction { MinuteSkipped, MinuteRefreshed, MinuteAnnounced };

extern HINSTANCE g_instance;
extern HICON g_smallIcon;
extern HMENU g_popupMenu;

// Whether the clock service is installed: then it keeps the clock, and the
// tray program shows and edits its settings. Checked anew at the start, when
// a dialog opens and when the menu opens.
extern bool g_serviceMode;
bool RefreshServiceMode();

// Registers the class of the main window; false if that fails.
bool RegisterMainWindowClass(HICON icon);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Adds, refreshes or removes the icon; a refresh that fails adds it anew.
void UpdateTrayIcon(HWND window, TrayAction action);
// The program's icon at the size of a system metric pair (SM_CXICON and
// SM_CYICON, or SM_CXSMICON and SM_CYSMICON).
HICON LoadSystemSizedIcon(int widthMetric, int heightMetric);
MinuteTickAction MinuteTickActionAt(const SYSTEMTIME& now, LONG voiceInterval);
// Milliseconds from `now` to the next minute boundary: 1 to 60000.
UINT MillisecondsToNextMinute(const SYSTEMTIME& now);
// One tick of the sync scheduler with synchronisation on: updates the count
// of ticks since the last attempt (-1: none yet, or the connection was lost)
// and tells whether an attempt starts now.
bool SyncTickStartsAttempt(LONG* minutesSinceSync, bool connected, LONG syncInterval);
