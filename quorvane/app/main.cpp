// The entry point of quorvane: one copy per user session, living in the
// notification area.
#include <windows.h>

#include "../res/resource.h"
#include "machine_store.h"
#include "main_window.h"
#include "settings.h"
#include "sync_attempt.h"

namespace {

const char MutexName[] = "QUORVANE";

[[noreturn]] void FatalExit()
{
    MessageBoxA(nullptr,
                "予期しない致命的な例外により終了します。\n\nメモリ不足もしくはシステム異常が考えられます。\n"
                "再現性のある場合は作者までお問い合わせください。",
                "Quorvane", MB_ICONHAND | MB_OK);
    ExitProcess(1);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    // The elevated copy that writes the clock service's settings shows no
    // window and never counts as the running copy.
    if (const char* arguments = MachineSettingsArguments(commandLine))
        return RunMachineSettingsCommand(arguments);
    g_instance = instance;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, MutexName);
    // A mutex that exists but may not be opened belongs to a copy running
    // with other rights (an elevated one, started by the setup program).
    const DWORD mutexError = GetLastError();
    if (!mutex && mutexError != ERROR_ACCESS_DENIED)
        FatalExit();
    if (mutexError == ERROR_ALREADY_EXISTS || mutexError == ERROR_ACCESS_DENIED) {
        // Another copy runs: bring it forward and end quietly.
        if (mutex)
            CloseHandle(mutex);
        HWND running = FindWindowA(MAIN_WINDOW_CLASS, MAIN_WINDOW_CLASS);
        if (running)
            SetForegroundWindow(running);
        return 0;
    }

    // At the sizes the system asks for (they grow with the screen's DPI), so
    // that no icon is scaled and blurred.
    HICON icon = LoadSystemSizedIcon(SM_CXICON, SM_CYICON);
    g_smallIcon = LoadSystemSizedIcon(SM_CXSMICON, SM_CYSMICON);
    if (!icon || !g_smallIcon)
        FatalExit();
    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDM_TRAY));
    g_popupMenu = menu ? GetSubMenu(menu, 0) : nullptr;
    if (!g_popupMenu)
        FatalExit();
    if (!RegisterMainWindowClass(icon) || !LoadSettings())
        FatalExit();

    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, MAIN_WINDOW_CLASS, MAIN_WINDOW_CLASS, WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                  instance, nullptr);
    // Without its window the program could neither be seen nor ended.
    if (!window)
        FatalExit();
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        // Keyboard use of a visible progress window (Tab, Enter, Esc).
        HWND progress = SyncProgressWindow();
        if (progress && IsDialogMessageA(progress, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DestroyMenu(menu);
    SaveSettings();
    CloseHandle(mutex);
    return int(message.wParam);
}
