// Drives another program's windows from a test, the way a user would: find
// its windows, press its buttons, type into its fields, read its controls.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// "Z:\..." for a path of the Linux file system.
std::string WindowsPath(const std::string& unixPath);

// Polls `done` every 20 ms until it holds or `timeoutMs` passes.
template <typename Done> bool WaitFor(Done done, DWORD timeoutMs = 10000)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

// A visible top-level dialog of process `pid` that has a control `id`.
HWND FindDialog(DWORD pid, int controlId);
// A visible top-level window of process `pid` with class `className`.
HWND FindProcessWindow(DWORD pid, const char* className);
// A visible message box of process `pid` owned by `owner`, and its text.
HWND FindMessageBox(DWORD pid, HWND owner, std::string* text);

// A visible window anywhere below `top` with control identifier `id`.
HWND FindDescendant(HWND top, int id);
// The wizard frame of process `pid` (a property sheet with a Next button).
HWND FindWizard(DWORD pid);
// Presses a wizard button (PSBTN_*) and nudges the sheet, which under Wine
// would otherwise wait for another message.
void PressWizardButton(HWND sheet, int button);

// For scripts/screenshots.sh: announces "SHOT name x y w h" (the window's
// rectangle, or the whole screen) and waits until the script has taken the
// picture and created <name>.done in $QV_SHOT_DIR.
void PoseForScreenshot(const char* name, HWND window);

std::string ControlText(HWND control);
std::vector<std::string> ListBoxLines(HWND listBox);
void SetControlText(HWND dialog, int id, const char* text);
// Presses a button without waiting for what it opens.
void Click(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
