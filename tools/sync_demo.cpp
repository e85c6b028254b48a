// A small program that opens the visible progress window and tests the
// server named on its command line (127.0.0.1 when none is given), the way the
// settings dialog's test button does. "/sync" synchronises instead of testing.
#include <windows.h>

#include <cstring>

#include "sync_attempt.h"

namespace {

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    char server[256] = "127.0.0.1";
    SyncMode mode = Test;
    for (char* word = strtok(commandLine, " "); word; word = strtok(nullptr, " ")) {
        if (lstrcmpiA(word, "/sync") == 0)
            mode = Synchronise;
        else
            lstrcpynA(server, word, sizeof server);
    }

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = OwnerProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "QuorvaneSyncDemo";
    RegisterClassA(&windowClass);
    // The progress window appears at its owner's origin: put that where the
    // window will be centred on the screen.
    int x = GetSystemMetrics(SM_CXSCREEN) / 2 - 160;
    int y = GetSystemMetrics(SM_CYSCREEN) / 2 - 100;
    HWND owner = CreateWindowA("QuorvaneSyncDemo", "", WS_POPUP, x, y, 0, 0, nullptr, nullptr, instance, nullptr);

    SyncRequest request = {mode, server, 1000, 0, 0};
    if (!StartSyncAttempt(owner, &request, TRUE))
        return 1;
    MSG message;
    while (SyncProgressWindow() && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(SyncProgressWindow(), &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    DestroyWindow(owner);
    return 0;
}
