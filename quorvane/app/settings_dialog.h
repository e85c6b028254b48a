// The settings dialog (103), the advanced settings dialog (109) and the
// talking clock's quiet-hours dialog (110).
#pragma once

#include <windows.h>

INT_PTR CALLBACK SettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AdvancedSettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Dialog 110, opened from dialog 103: quiet hours and silence while busy.
INT_PTR CALLBACK QuietHoursDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The enabling rules of dialog 103.
void UpdateSettingsControls(HWND dialog);
// A message box with a string-table text, the system's default caption.
int ShowResourceMessage(HWND owner, UINT id, UINT style, ...);
// Moves a window next to the mouse cursor, inside the work area's right
// and bottom edges.
bool PlaceNearCursor(HWND window);
