// The About box (dialog 104).
#pragma once

#include <windows.h>

INT_PTR CALLBACK AboutDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Centres a window on the right and bottom edges of the work area.
bool CenterInWorkArea(HWND window);
