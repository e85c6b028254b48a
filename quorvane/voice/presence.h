// What Windows tells about the user and the sound output, for the talking
// clock. The program links the real queries (presence.cpp); tests link their
// own, since Wine answers "accepts notifications" and sends no lock
// notifications.
#pragma once

#include <windows.h>

// SHQueryUserNotificationState's answer (Windows Vista and later, looked up
// at run time); 0 when there is none.
int QueryUserNotificationState();
// Whether SHQueryUserNotificationState's QUNS_APP also means an open Start
// menu (Windows 10 and later).
bool AppStateIncludesStartMenu();
// Whether the default console output device is muted or at volume 0
// (Windows Vista and later); any failure counts as not muted.
bool DefaultOutputMuted();
// Asks for WM_WTSSESSION_CHANGE of this session (Windows XP and later,
// looked up at run time); false when that is not (yet) possible.
bool RegisterSessionNotifications(HWND window);
void UnregisterSessionNotifications(HWND window);
