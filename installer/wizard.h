// The three-page installation wizard.
#pragma once

#include <windows.h>

void RunWizard();
// Moves a window to the middle of the screen.
void CenterWindow(HWND window);
