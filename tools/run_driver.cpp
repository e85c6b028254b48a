// The user's side of scripts/run.sh: with quorvane running after Setup, it
// waits for the clock service, chooses "今すぐ合わせる" from the tray menu,
// waits for the service's attempt to show in the progress window and prints
// its lines, then opens the About box and prints its last-synchronisation
// sentence. Lines on stdout, in CP932:
//   LINE <status line>     ABOUT <sentence>     ERROR <what went wrong>
//   SHOT <name> x y w h    (with QV_SHOT_DIR: waits for <name>.done)
// With --leave it leaves quorvane running and then waits until the user
// ends it from its tray menu.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "../tests/e2e/gui_driver.h"

namespace {

const UINT WmTrayNotify = WM_APP + 100;
const int StatusList = 1057, LastSync = 1032, About = 40004;

int Fail(const char* what)
{
    printf("ERROR %s\n", what);
    fflush(stdout);
    return 1;
}

bool ServiceRunning()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, "QuorvaneClock", SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status = {};
    if (service) {
        QueryServiceStatus(service, &status);
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
    return status.dwCurrentState == SERVICE_RUNNING;
}

void Pose(const char* name, HWND window)
{
    if (getenv("QV_SHOT_DIR"))
        PoseForScreenshot(name, window);
}

} // namespace

int main(int argc, char** argv)
{
    const bool leave = argc > 1 && strcmp(argv[1], "--leave") == 0;
    if (!WaitFor(ServiceRunning, 20000))
        return Fail("the clock service did not start");
    HWND main = nullptr;
    if (!WaitFor([&] { return (main = FindWindowA("Quorvane", "Quorvane")) != nullptr; }, 20000))
        return Fail("quorvane did not start from its Start-menu link");
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);

    Pose("mouse-on-icon", nullptr); // the menu opens where the mouse is
    PostMessageA(main, WmTrayNotify, 1, WM_RBUTTONDOWN);
    HWND menu = nullptr;
    if (!WaitFor([&] { return (menu = FindProcessWindow(pid, "#32768")) != nullptr; }))
        return Fail("the tray menu did not open");
    Pose("run-menu", nullptr);
    // "今すぐ合わせる" is the third item while the service is installed.
    for (int i = 0; i < 3; ++i)
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    HWND progress = nullptr;
    if (!WaitFor([&] { return (progress = FindDialog(pid, StatusList)) != nullptr; }))
        return Fail("the progress window did not open");
    if (!WaitFor([&] { return ControlText(GetDlgItem(progress, IDCANCEL)) == "閉じる"; }, 30000))
        return Fail("the service's attempt did not end");
    for (const std::string& line : ListBoxLines(GetDlgItem(progress, StatusList)))
        printf("LINE %s\n", line.c_str());
    fflush(stdout);
    SendMessageA(GetDlgItem(progress, StatusList), WM_VSCROLL, SB_BOTTOM, 0);
    Sleep(300);
    Pose("run-progress", progress);
    PostMessageA(progress, WM_COMMAND, IDCANCEL, 0);
    WaitFor([&] { return !IsWindow(progress); });

    PostMessageA(main, WM_COMMAND, About, 0);
    HWND about = nullptr;
    if (!WaitFor([&] { return (about = FindDialog(pid, LastSync)) != nullptr; }))
        return Fail("the About box did not open");
    printf("ABOUT %s\n", ControlText(GetDlgItem(about, LastSync)).c_str());
    fflush(stdout);
    Sleep(300);
    Pose("run-about", about);
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    if (leave) {
        // The user ends quorvane from its tray menu.
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
    }
    return 0;
}
