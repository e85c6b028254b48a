// The entry point of quorvane: one copy per user session, living in the
// notification area.
#include <windows.h>

#include "../res/resource.h"
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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    g_instance = instance;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, MutexName);
    if (!mutex)
        FatalExit();
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another copy runs: bring it forward and end quietly.
        CloseHandle(mutex);
        HWND running = FindWindowA(MAIN_WINDOW_CLASS, MAIN_WINDOW_CLASS);
        if (running)
            SetForegroundWindow(running);
        return 0;
    }

    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUORVANE));
    g_smallIcon = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(IDI_QUORVANE), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
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
