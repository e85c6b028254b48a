#include "gui_driver.h"

#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <cstdlib>

std::string WindowsPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

namespace {

struct Search {
    DWORD pid;
    const char* className;
    int controlId;
    HWND owner; // when set, only windows owned by it
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !IsWindowVisible(window))
        return TRUE;
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, search->className) != 0)
        return TRUE;
    if (search->controlId && !GetDlgItem(window, search->controlId))
        return TRUE;
    if (search->owner && GetWindow(window, GW_OWNER) != search->owner)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindTopLevel(DWORD pid, const char* className, int controlId, HWND owner = nullptr)
{
    Search search = {pid, className, controlId, owner, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

HWND FindDialog(DWORD pid, int controlId)
{
    return FindTopLevel(pid, "#32770", controlId);
}

HWND FindProcessWindow(DWORD pid, const char* className)
{
    return FindTopLevel(pid, className, 0);
}

HWND FindMessageBox(DWORD pid, HWND owner, std::string* text)
{
    // The text of a message box is the static 0xFFFF.
    HWND box = FindTopLevel(pid, "#32770", 0xFFFF, owner);
    if (box && text)
        *text = ControlText(GetDlgItem(box, 0xFFFF));
    return box;
}

namespace {

struct ChildSearch {
    int id;
    HWND found;
};

BOOL CALLBACK MatchChild(HWND window, LPARAM parameter)
{
    ChildSearch* search = reinterpret_cast<ChildSearch*>(parameter);
    if (GetDlgCtrlID(window) == search->id && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND FindDescendant(HWND top, int id)
{
    ChildSearch search = {id, nullptr};
    if (top)
        EnumChildWindows(top, MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindWizard(DWORD pid)
{
    return FindTopLevel(pid, "#32770", 12324); // the wizard's Next button
}

void PressWizardButton(HWND sheet, int button)
{
    PostMessageA(sheet, PSM_PRESSBUTTON, button, 0);
    PostMessageA(sheet, WM_NULL, 0, 0);
}

void PoseForScreenshot(const char* name, HWND window)
{
    RECT rect = {0, 0, 1024, 768};
    if (window)
        GetWindowRect(window, &rect);
    printf("SHOT %s %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    fflush(stdout);
    const std::string done = WindowsPath(getenv("QV_SHOT_DIR")) + "\\" + name + ".done";
    WaitFor([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 30000);
}

std::string ControlText(HWND control)
{
    char text[512] = {};
    SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

std::vector<std::string> ListBoxLines(HWND listBox)
{
    // Across processes only the wide form of LB_GETTEXT works under Wine.
    std::vector<std::string> lines;
    const int count = int(SendMessageW(listBox, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        WCHAR wide[512] = {};
        char text[1024] = {};
        SendMessageW(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        lines.push_back(text);
    }
    return lines;
}

void SetControlText(HWND dialog, int id, const char* text)
{
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void Click(HWND dialog, int id)
{
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

bool IsChecked(HWND dialog, int id)
{
    return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool IsEnabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}
