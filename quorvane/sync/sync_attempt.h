// One sync attempt and its progress window.
#pragma once

#include <windows.h>

#include "sync_request.h"

// Private messages of the progress window.
#define WM_SYNC_NETSTART (WM_USER + 1) // sent to itself while it is created
#define WM_SYNC_START (WM_USER + 2)    // lParam: const SyncRequest*
#define WM_SYNC_RESOLVED (WM_USER + 3) // wParam: resolver id; HIWORD(lParam): error
#define WM_SYNC_SOCKET (WM_USER + 4)   // wParam: socket; LOWORD(lParam): event, HIWORD: error
// Posted to the window that started an automatic attempt once its outcome is
// kept for the clock's health, so that the tip can tell it at once.
#define WM_SYNC_RECORDED (WM_APP + 101)

// The resend timer of the progress window, and the timer that watches the
// clock service's status while the window shows the service's attempt.
#define IDT_RETRY 1
#define IDT_SERVICE_POLL 2
#define SERVICE_POLL_MS 250
// As long as the service's attempt may take: a name lookup of up to 30 s,
// then 6 s of asking.
#define SERVICE_WAIT_MS 40000
// The clock service starts no attempt within this time (FILETIME units, one
// minute) of the last one's start.
#define SERVICE_SPACING (60ull * 10000000)
#define RETRY_INTERVAL_MS 1000
#define MAX_SENDS 5

// Starts an attempt in the progress window, creating the window (owned by
// `owner`) or taking over a hidden one. Returns FALSE and changes nothing
// while a visible progress window exists, and FALSE when no window could be
// made. The request is copied before the call returns.
BOOL StartSyncAttempt(HWND owner, const SyncRequest* request, BOOL show);

// Asks the clock service to synchronise now and shows, in the visible
// progress window, the lines of the attempt it makes. FALSE, changing
// nothing, while a visible progress window exists.
BOOL ShowServiceSynchronisation(HWND owner);

// The progress window, or null while none exists.
HWND SyncProgressWindow();
