// quorvane.exe under Wine, driven the way a user drives it, with its server
// set to an SNTP test server on 127.0.0.1 before it starts.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../sync/test_servers.h"
#include "../voice/voice_file.h"
#include "gui_driver.h"

namespace {

const char SettingsKey[] = "Software\\veskar\\quorvane";
const UINT WmTrayNotify = WM_APP + 100;
enum Command { Exit = 40001, Settings = 40002, About = 40004, SpeakNow = 40006 };
enum Control {
    SyncBox = 1002, SyncInterval = 1027, Advanced = 1028, VoiceNone = 1007, VoiceHourly = 1008,
    VoiceHalfHourly = 1009, VolumeSmall = 1058, VolumeMedium = 1059, VolumeLarge = 1060, VolumeTest = 1061,
    Autostart = 1035, Server = 1015, MaxDelay = 1055, Tolerance = 1056, ShiftOn = 1053, Shift = 1054,
    TestButton = 1010, Defaults = 1011, LastSync = 1032, StatusList = 1057, QuietButton = 1200, QuietHours = 1201,
    QuietFromHour = 1202, QuietFromMinute = 1203, QuietToHour = 1204, QuietToMinute = 1205, QuietWhenBusy = 1206,
    LastOffset = 1100, Drift = 1101, Health = 1102, HealthCause = 1103,
};
const char OutOfRange[] = "範囲外の数値が指定されています。";
const char NotANumber[] = "不正な数値です。";

class QuorvaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        static int serial;
        folder_ = std::string(temp) + "qv-e2e-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
        CreateDirectoryA(folder_.c_str(), nullptr);
        program_ = folder_ + "\\quorvane.exe";
        ASSERT_TRUE(CopyFileA(WindowsPath(QUORVANE_EXE).c_str(), program_.c_str(), FALSE));
        // Never the public default server: a loopback one, before any start.
        RegDeleteTreeA(HKEY_CURRENT_USER, SettingsKey);
        SetString("Server", "127.0.0.1");
        SetString("Sync", "");
    }

    void TearDown() override
    {
        if (process_.hProcess) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, 5000);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        DeleteFileA((folder_ + "\\voice.dat").c_str());
        DeleteFileA(program_.c_str());
        if (!shellLog_.empty()) {
            DeleteFileA(shellLog_.c_str());
            SetEnvironmentVariableA("QV_SHELL_LOG", nullptr);
        }
        RemoveDirectoryA(folder_.c_str());
        DeleteFileA(StartupLink().c_str());
        RegDeleteTreeA(HKEY_CURRENT_USER, SettingsKey);
    }

    // Runs quorvane_probe.exe instead: the same program, whose calls to the
    // notification area are logged (see ShellLog).
    void WithShellLog()
    {
        ASSERT_TRUE(CopyFileA(WindowsPath(QUORVANE_PROBE_EXE).c_str(), program_.c_str(), FALSE));
        shellLog_ = folder_ + "\\shell.log";
        SetEnvironmentVariableA("QV_SHELL_LOG", shellLog_.c_str());
    }

    // The logged lines that start with `kind` ("icon" or "balloon"), without it.
    std::vector<std::string> ShellLog(const std::string& kind) const
    {
        std::vector<std::string> lines;
        FILE* file = fopen(shellLog_.c_str(), "rb");
        if (!file)
            return lines;
        char line[1024];
        while (fgets(line, sizeof line, file)) {
            std::string text(line);
            text.erase(text.find_last_not_of("\r\n") + 1);
            if (text.compare(0, kind.size() + 1, kind + "|") == 0)
                lines.push_back(text.substr(kind.size() + 1));
        }
        fclose(file);
        return lines;
    }

    // Has the tray icon refreshed at once, as a restarted Explorer would.
    void RefreshTrayIcon()
    {
        DWORD_PTR result;
        SendMessageTimeoutA(main_, RegisterWindowMessageA("TaskbarCreated"), 0, 0, SMTO_NORMAL, 5000, &result);
    }

    // Has the icon tell the clock's health at once, as the program does when
    // an attempt's outcome is kept (WM_SYNC_RECORDED).
    void RefreshHealth()
    {
        DWORD_PTR result;
        SendMessageTimeoutA(main_, WM_APP + 101, 0, 0, SMTO_NORMAL, 5000, &result);
    }

    void WithVoice()
    {
        ASSERT_TRUE(CopyFileA(WindowsPath(VOICE_DAT).c_str(), (folder_ + "\\voice.dat").c_str(), FALSE));
    }

    void SetString(const char* name, const char* value)
    {
        RegSetKeyValueA(HKEY_CURRENT_USER, SettingsKey, name, REG_SZ, value, DWORD(strlen(value) + (*value ? 1 : 0)));
    }
    void SetDword(const char* name, DWORD value)
    {
        RegSetKeyValueA(HKEY_CURRENT_USER, SettingsKey, name, REG_DWORD, &value, 4);
    }
    std::string GetString(const char* name)
    {
        char value[300] = {};
        DWORD size = sizeof value;
        RegGetValueA(HKEY_CURRENT_USER, SettingsKey, name, RRF_RT_REG_SZ, nullptr, value, &size);
        return value;
    }
    bool GetDword(const char* name, LONG* value)
    {
        DWORD size = 4;
        return RegGetValueA(HKEY_CURRENT_USER, SettingsKey, name, RRF_RT_REG_DWORD, nullptr, value, &size)
            == ERROR_SUCCESS;
    }

    // Starts quorvane.exe and waits for its main window.
    void Start()
    {
        if (process_.hProcess) { // a start after an earlier run of this test
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
            process_ = {};
        }
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string commandLine = "\"" + program_ + "\"";
        ASSERT_TRUE(CreateProcessA(program_.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   folder_.c_str(), &startup, &process_));
        ASSERT_TRUE(WaitFor([&] { return (main_ = MainWindow()) != nullptr; }));
    }

    HWND MainWindow() const
    {
        HWND window = FindWindowA("Quorvane", "Quorvane");
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        return pid == process_.dwProcessId ? window : nullptr;
    }

    // Starts another copy while the first may run; returns its exit code
    // (12345: still running after ten seconds, then ended).
    DWORD RunSecondCopy()
    {
        PROCESS_INFORMATION second = {};
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string commandLine = "\"" + program_ + "\"";
        if (!CreateProcessA(program_.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder_.c_str(),
                            &startup, &second))
            return 54321;
        DWORD code = 12345;
        if (WaitForSingleObject(second.hProcess, 10000) == WAIT_OBJECT_0)
            GetExitCodeProcess(second.hProcess, &code);
        else
            TerminateProcess(second.hProcess, 1);
        CloseHandle(second.hProcess);
        CloseHandle(second.hThread);
        return code;
    }

    // Ends quorvane through its menu command and returns its exit code.
    DWORD ExitProgram()
    {
        PostMessageA(main_, WM_COMMAND, Exit, 0);
        EXPECT_EQ(WaitForSingleObject(process_.hProcess, 10000), WAIT_OBJECT_0);
        DWORD code = 12345;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    // Opens the tray menu (as a right click on the icon does) and returns it.
    HWND OpenTrayMenu()
    {
        PostMessageA(main_, WmTrayNotify, 1, WM_RBUTTONDOWN);
        HWND menu = nullptr;
        EXPECT_TRUE(WaitFor([&] { return (menu = FindProcessWindow(process_.dwProcessId, "#32768")) != nullptr; }));
        return menu;
    }

    HWND OpenDialog(Command command, int controlId)
    {
        PostMessageA(main_, WM_COMMAND, command, 0);
        HWND dialog = nullptr;
        EXPECT_TRUE(WaitFor([&] { return (dialog = FindDialog(process_.dwProcessId, controlId)) != nullptr; }));
        return dialog;
    }

    HWND OpenAdvanced(HWND settings)
    {
        Click(settings, Advanced);
        HWND dialog = nullptr;
        EXPECT_TRUE(WaitFor([&] { return (dialog = FindDialog(process_.dwProcessId, Server)) != nullptr; }));
        return dialog;
    }

    HWND OpenQuiet(HWND settings)
    {
        Click(settings, QuietButton);
        HWND dialog = nullptr;
        EXPECT_TRUE(WaitFor([&] { return (dialog = FindDialog(process_.dwProcessId, QuietWhenBusy)) != nullptr; }));
        return dialog;
    }

    // Presses a button that must answer with a message box; returns its text
    // and closes it.
    std::string PressForMessage(HWND dialog, int button)
    {
        Click(dialog, button);
        std::string text;
        HWND box = nullptr;
        if (!WaitFor([&] { return (box = FindMessageBox(process_.dwProcessId, dialog, &text)) != nullptr; }, 5000))
            return "(no message)";
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return !IsWindow(box); });
        return text;
    }

    void CloseDialog(HWND dialog, int button)
    {
        Click(dialog, button);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
    }

    // The control that has the keyboard focus in the dialog's thread.
    static HWND Focused(HWND dialog)
    {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
        return info.hwndFocus;
    }

    // Presses a key (WM_KEYDOWN) or an Alt+letter (WM_SYSCHAR) in the focused
    // control; returns the identifier of the control focused afterwards.
    static int PressKey(HWND dialog, UINT message, WPARAM key)
    {
        HWND before = Focused(dialog);
        PostMessageA(before, message, key, message == WM_SYSCHAR ? 0x20000000 : 0);
        WaitFor([&] { return Focused(dialog) != before; }, 2000);
        return GetDlgCtrlID(Focused(dialog));
    }

    static std::string StartupLink()
    {
        char folder[MAX_PATH] = {};
        DWORD size = sizeof folder;
        RegGetValueA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                     "Startup", RRF_RT_REG_SZ, nullptr, folder, &size);
        return std::string(folder) + "\\Quorvane.lnk";
    }

    std::string folder_, program_, shellLog_;
    PROCESS_INFORMATION process_ = {};
    HWND main_ = nullptr;
};

TEST_F(QuorvaneTest, ASecondStartEndsAtOnceAndTheFirstSavesEveryValueAtExit)
{
    Start();
    EXPECT_EQ(RunSecondCopy(), 0u);
    EXPECT_EQ(WaitForSingleObject(process_.hProcess, 0), WAIT_TIMEOUT); // the first runs on

    EXPECT_EQ(ExitProgram(), 0u);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    EXPECT_EQ(values, 14u);
    DWORD type = 0, size = 99;
    EXPECT_EQ(RegQueryValueExA(key, "Sync", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, 0u);
    char server[64] = {};
    size = sizeof server;
    RegQueryValueExA(key, "Server", nullptr, nullptr, reinterpret_cast<BYTE*>(server), &size);
    EXPECT_STREQ(server, "127.0.0.1");
    RegCloseKey(key);
    const struct {
        const char* name;
        LONG value;
    } expected[] = {{"SyncInterval", 30}, {"VoiceInterval", 60}, {"VoiceVolume", 100}, {"PosX", 0},
                    {"PosY", 0},          {"MaxDelay", 500},     {"Tolerance", 200},    {"TimeShift", 0},
                    {"QuietHours", 0},    {"QuietFrom", 1320},   {"QuietTo", 420},      {"QuietWhenBusy", 1}};
    for (const auto& e : expected) {
        LONG value = -999;
        EXPECT_TRUE(GetDword(e.name, &value)) << e.name;
        EXPECT_EQ(value, e.value) << e.name;
    }

    // A copy started with other rights (elevated, by the setup program)
    // holds a mutex that a normal start may not even open: that start ends
    // quietly too, without the fatal-error box.
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ACL empty;
    InitializeAcl(&empty, sizeof empty, ACL_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE); // grants nothing
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    HANDLE elevated = CreateMutexA(&attributes, FALSE, "QUORVANE");
    ASSERT_NE(elevated, nullptr);
    EXPECT_EQ(RunSecondCopy(), 0u);
    CloseHandle(elevated);
}

TEST_F(QuorvaneTest, TheTrayMenuOpensTheSettings)
{
    Start();
    HWND menu = OpenTrayMenu();
    ASSERT_NE(menu, nullptr);
    // The menu's items, read from the program's own resources.
    HMODULE resources = LoadLibraryExA(program_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(resources, nullptr);
    HMENU bar = LoadMenuA(resources, MAKEINTRESOURCEA(102));
    HMENU items = GetSubMenu(bar, 0);
    ASSERT_EQ(GetMenuItemCount(items), 5);
    const char* texts[] = {"設定(&S)...", "情報(&A)...", "今の時刻を話す(&T)", "", "終了(&X)"};
    const UINT ids[] = {Settings, About, SpeakNow, 0, Exit};
    for (int i = 0; i < 5; ++i) {
        char text[64] = {};
        GetMenuStringA(items, i, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, texts[i]) << i;
        EXPECT_EQ(GetMenuItemID(items, i), ids[i]) << i;
    }
    DestroyMenu(bar);
    FreeLibrary(resources);
    PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (dialog = FindDialog(process_.dwProcessId, SyncInterval)) != nullptr; }));
    CloseDialog(dialog, IDCANCEL);
    HWND about = OpenDialog(About, LastSync);
    ASSERT_NE(about, nullptr);
    CloseDialog(about, IDOK);
    EXPECT_EQ(ExitProgram(), 0u);
}

TEST_F(QuorvaneTest, SettingsDialogValidatesTheIntervalAndManagesTheAutostartShortcut)
{
    WithVoice();
    Start();
    HWND dialog = OpenDialog(Settings, SyncInterval);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsChecked(dialog, SyncBox));
    EXPECT_TRUE(IsChecked(dialog, VoiceHourly));
    EXPECT_TRUE(IsChecked(dialog, VolumeLarge));
    EXPECT_FALSE(IsChecked(dialog, Autostart));
    for (const char* bad : {"0", "1441", "9999"}) {
        SetControlText(dialog, SyncInterval, bad);
        EXPECT_EQ(PressForMessage(dialog, IDOK), OutOfRange) << bad;
    }
    for (const char* bad : {"", "abc"}) {
        SetControlText(dialog, SyncInterval, bad);
        EXPECT_EQ(PressForMessage(dialog, IDOK), NotANumber) << bad;
    }
    ASSERT_TRUE(IsWindow(dialog)); // still open, nothing stored

    SetControlText(dialog, SyncInterval, "1440");
    Click(dialog, VoiceHalfHourly);
    Click(dialog, VolumeSmall);
    Click(dialog, Autostart);
    CloseDialog(dialog, IDOK);

    // The shortcut points at the program.
    const std::string link = StartupLink();
    ASSERT_NE(GetFileAttributesA(link.c_str()), INVALID_FILE_ATTRIBUTES) << link;
    CoInitialize(nullptr);
    IShellLinkA* shellLink = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                           reinterpret_cast<void**>(&shellLink))));
    IPersistFile* file = nullptr;
    shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    WCHAR wideLink[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wideLink, MAX_PATH);
    ASSERT_TRUE(SUCCEEDED(file->Load(wideLink, STGM_READ)));
    char target[MAX_PATH] = {};
    shellLink->GetPath(target, sizeof target, nullptr, SLGP_RAWPATH);
    EXPECT_EQ(lstrcmpiA(target, program_.c_str()), 0) << target;
    file->Release();
    shellLink->Release();
    CoUninitialize();

    // Reopened, the dialog shows what was stored; cleared, the shortcut goes.
    dialog = OpenDialog(Settings, SyncInterval);
    EXPECT_EQ(ControlText(GetDlgItem(dialog, SyncInterval)), "1440");
    EXPECT_TRUE(IsChecked(dialog, VoiceHalfHourly));
    EXPECT_TRUE(IsChecked(dialog, VolumeSmall));
    EXPECT_TRUE(IsChecked(dialog, Autostart));

    // Keyboard: Tab passes over the unchecked radio buttons (Windows gives
    // the checked one of a group the tab stop); each group's label mnemonic
    // reaches its checked button, and the arrows move within the group.
    for (int id : {VoiceNone, VoiceHourly, VolumeMedium, VolumeLarge})
        EXPECT_EQ(GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & WS_TABSTOP, 0) << id;
    std::vector<int> tabStops;
    for (int press = 0; press < 10; ++press)
        tabStops.push_back(PressKey(dialog, WM_KEYDOWN, VK_TAB));
    std::sort(tabStops.begin(), tabStops.end());
    EXPECT_EQ(tabStops, (std::vector<int>{IDOK, IDCANCEL, SyncBox, VoiceHalfHourly, SyncInterval, Advanced, Autostart,
                                          VolumeSmall, VolumeTest, QuietButton}));
    EXPECT_EQ(PressKey(dialog, WM_SYSCHAR, 'v'), VoiceHalfHourly);
    EXPECT_EQ(PressKey(dialog, WM_KEYDOWN, VK_LEFT), VoiceHourly);
    EXPECT_EQ(PressKey(dialog, WM_SYSCHAR, 'o'), VolumeSmall);
    EXPECT_EQ(PressKey(dialog, WM_KEYDOWN, VK_RIGHT), VolumeMedium);
    EXPECT_TRUE(IsChecked(dialog, VoiceHourly));
    EXPECT_TRUE(IsChecked(dialog, VolumeMedium));

    // The quiet hours: off at first, 22:00 to 7:00 greyed; checked, every
    // time field is read and checked.
    HWND quiet = OpenQuiet(dialog);
    ASSERT_NE(quiet, nullptr);
    EXPECT_FALSE(IsChecked(quiet, QuietHours));
    EXPECT_TRUE(IsChecked(quiet, QuietWhenBusy));
    EXPECT_FALSE(IsEnabled(quiet, QuietFromHour));
    const int timeFields[] = {QuietFromHour, QuietFromMinute, QuietToHour, QuietToMinute};
    std::vector<std::string> shown;
    for (int id : timeFields)
        shown.push_back(ControlText(GetDlgItem(quiet, id)));
    EXPECT_EQ(shown, (std::vector<std::string>{"22", "00", "7", "00"}));
    Click(quiet, QuietHours);
    ASSERT_TRUE(WaitFor([&] { return IsEnabled(quiet, QuietToMinute); }));
    const struct {
        int id;
        const char *bad, *message, *good;
    } fields[] = {{QuietFromHour, "24", OutOfRange, "23"}, {QuietFromMinute, "60", OutOfRange, "30"},
                  {QuietToHour, "", NotANumber, "6"},       {QuietToMinute, "x", NotANumber, "5"}};
    for (const auto& f : fields) {
        SetControlText(quiet, f.id, f.bad);
        EXPECT_EQ(PressForMessage(quiet, IDOK), f.message) << f.id;
        SetControlText(quiet, f.id, f.good);
    }
    Click(quiet, QuietWhenBusy);
    CloseDialog(quiet, IDOK);

    Click(dialog, Autostart);
    CloseDialog(dialog, IDOK);
    EXPECT_EQ(GetFileAttributesA(link.c_str()), INVALID_FILE_ATTRIBUTES);

    EXPECT_EQ(ExitProgram(), 0u);
    const struct {
        const char* name;
        LONG value;
    } stored[] = {{"SyncInterval", 1440}, {"VoiceInterval", 60}, {"VoiceVolume", 66},   {"QuietHours", 1},
                  {"QuietFrom", 23 * 60 + 30}, {"QuietTo", 6 * 60 + 5}, {"QuietWhenBusy", 0}};
    for (const auto& v : stored) {
        LONG value = -999;
        EXPECT_TRUE(GetDword(v.name, &value)) << v.name;
        EXPECT_EQ(value, v.value) << v.name;
    }

    // The next start shows the quiet hours as they were stored.
    Start();
    dialog = OpenDialog(Settings, SyncInterval);
    quiet = OpenQuiet(dialog);
    ASSERT_NE(quiet, nullptr);
    EXPECT_TRUE(IsChecked(quiet, QuietHours));
    EXPECT_FALSE(IsChecked(quiet, QuietWhenBusy));
    shown.clear();
    for (int id : timeFields)
        shown.push_back(ControlText(GetDlgItem(quiet, id)));
    EXPECT_EQ(shown, (std::vector<std::string>{"23", "30", "6", "05"}));
    CloseDialog(quiet, IDCANCEL);
    CloseDialog(dialog, IDCANCEL);
    EXPECT_EQ(ExitProgram(), 0u);
}

TEST_F(QuorvaneTest, WithoutVoiceDatNoAnnouncementCanBeChosen)
{
    Start();
    HWND dialog = OpenDialog(Settings, SyncInterval);
    ASSERT_NE(dialog, nullptr);
    for (int id : {VoiceNone, VoiceHourly, VoiceHalfHourly, VolumeSmall, VolumeMedium, VolumeLarge, VolumeTest})
        EXPECT_FALSE(IsEnabled(dialog, id)) << id;
    EXPECT_TRUE(IsEnabled(dialog, SyncInterval));
    EXPECT_FALSE(IsEnabled(dialog, QuietButton));
    // Sync off disables its interval and the advanced settings.
    Click(dialog, SyncBox);
    EXPECT_TRUE(WaitFor([&] { return !IsEnabled(dialog, SyncInterval) && !IsEnabled(dialog, Advanced); }));
    CloseDialog(dialog, IDCANCEL);
    EXPECT_EQ(ExitProgram(), 0u);
    LONG value = 0;
    EXPECT_TRUE(GetDword("VoiceInterval", &value));
    EXPECT_EQ(value, 60);
}

TEST_F(QuorvaneTest, AdvancedDialogChecksItsFieldsAndTestsTheServerTypedIn)
{
    SntpTestServer sntp;
    ASSERT_TRUE(sntp.Start("127.0.0.1", SntpBehaviour::Answer));
    RegDeleteKeyValueA(HKEY_CURRENT_USER, SettingsKey, "Sync"); // no automatic attempt
    SetDword("MaxDelay", 300);
    Start();
    HWND settings = OpenDialog(Settings, SyncInterval);
    Click(settings, SyncBox); // enables the advanced button
    ASSERT_TRUE(WaitFor([&] { return IsEnabled(settings, Advanced); }));
    HWND dialog = OpenAdvanced(settings);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(GetDlgItem(dialog, Server)), "127.0.0.1");
    EXPECT_EQ(ControlText(GetDlgItem(dialog, MaxDelay)), "300");
    EXPECT_FALSE(IsEnabled(dialog, Shift));

    SetControlText(dialog, MaxDelay, "0");
    EXPECT_EQ(PressForMessage(dialog, IDOK), OutOfRange);
    SetControlText(dialog, MaxDelay, "1000");
    SetControlText(dialog, Tolerance, "x");
    EXPECT_EQ(PressForMessage(dialog, IDOK), NotANumber);
    SetControlText(dialog, Tolerance, "0");
    // An unchecked shift is not read by OK, but the test reads it.
    SetControlText(dialog, Shift, "abc");
    EXPECT_EQ(PressForMessage(dialog, TestButton), NotANumber);
    Click(dialog, ShiftOn);
    ASSERT_TRUE(WaitFor([&] { return IsEnabled(dialog, Shift); }));
    SetControlText(dialog, Shift, "-301");
    EXPECT_EQ(PressForMessage(dialog, IDOK), OutOfRange);
    SetControlText(dialog, Shift, "-300");

    // The test runs in a visible progress window with the typed values.
    Click(dialog, TestButton);
    HWND progress = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (progress = FindDialog(process_.dwProcessId, StatusList)) != nullptr; }));
    std::vector<std::string> lines;
    ASSERT_TRUE(WaitFor([&] {
        lines = ListBoxLines(GetDlgItem(progress, StatusList));
        return !lines.empty() && lines.back() == "テストは正常に完了しました。";
    }));
    EXPECT_EQ(lines[0], "サーバを検索しています… (127.0.0.1)");
    EXPECT_EQ(lines.size(), 7u);
    EXPECT_EQ(ControlText(GetDlgItem(progress, IDCANCEL)), "閉じる");
    CloseDialog(progress, IDCANCEL);

    // Defaults, then Cancel: nothing changes.
    Click(dialog, Defaults);
    ASSERT_TRUE(WaitFor([&] { return ControlText(GetDlgItem(dialog, Server)) == "ntp.nict.jp"; }));
    EXPECT_EQ(ControlText(GetDlgItem(dialog, MaxDelay)), "500");
    EXPECT_FALSE(IsChecked(dialog, ShiftOn));
    CloseDialog(dialog, IDCANCEL);
    CloseDialog(settings, IDCANCEL);

    // A test never shows as a synchronisation.
    HWND about = OpenDialog(About, LastSync);
    EXPECT_EQ(ControlText(GetDlgItem(about, LastSync)), "");
    CloseDialog(about, IDOK);

    // OK stores the four values, and Cancel of the settings dialog keeps
    // them; the fields show what was kept.
    auto openBoth = [&](HWND* outer) {
        *outer = OpenDialog(Settings, SyncInterval);
        Click(*outer, SyncBox);
        EXPECT_TRUE(WaitFor([&] { return IsEnabled(*outer, Advanced); }));
        return OpenAdvanced(*outer);
    };
    dialog = openBoth(&settings);
    EXPECT_EQ(ControlText(GetDlgItem(dialog, Server)), "127.0.0.1"); // Cancel kept nothing
    EXPECT_EQ(ControlText(GetDlgItem(dialog, MaxDelay)), "300");
    SetControlText(dialog, Server, "127.0.0.2");
    SetControlText(dialog, MaxDelay, "400");
    SetControlText(dialog, Tolerance, "50");
    Click(dialog, ShiftOn);
    SetControlText(dialog, Shift, "-20");
    CloseDialog(dialog, IDOK);
    CloseDialog(settings, IDCANCEL);
    dialog = openBoth(&settings);
    EXPECT_EQ(ControlText(GetDlgItem(dialog, Server)), "127.0.0.2");
    EXPECT_EQ(ControlText(GetDlgItem(dialog, MaxDelay)), "400");
    EXPECT_EQ(ControlText(GetDlgItem(dialog, Tolerance)), "50");
    EXPECT_TRUE(IsChecked(dialog, ShiftOn));
    EXPECT_EQ(ControlText(GetDlgItem(dialog, Shift)), "-20");
    // A cleared shift is none, whatever its field holds.
    Click(dialog, ShiftOn);
    SetControlText(dialog, Shift, "abc");
    CloseDialog(dialog, IDOK);
    CloseDialog(settings, IDCANCEL);

    EXPECT_EQ(ExitProgram(), 0u);
    EXPECT_EQ(GetString("Server"), "127.0.0.2");
    LONG value = 0;
    EXPECT_TRUE(GetDword("MaxDelay", &value));
    EXPECT_EQ(value, 400);
    EXPECT_TRUE(GetDword("Tolerance", &value));
    EXPECT_EQ(value, 50);
    EXPECT_TRUE(GetDword("TimeShift", &value));
    EXPECT_EQ(value, 0);
}

TEST_F(QuorvaneTest, AboutBoxShowsTheLastAutomaticSynchronisation)
{
    SntpTestServer sntp;
    ASSERT_TRUE(sntp.Start("127.0.0.1", SntpBehaviour::Answer));
    SetDword("Tolerance", 0); // every error is corrected
    Start();
    // The first automatic attempt starts a second after start-up; under Wine
    // a setting within half a second of the real time succeeds.
    ASSERT_TRUE(WaitFor([&] { return !sntp.RequestTicks().empty(); }));
    Sleep(500);
    HWND about = OpenDialog(About, LastSync);
    ASSERT_NE(about, nullptr);
    const std::string line = ControlText(GetDlgItem(about, LastSync));
    const std::string sentence = " に時刻同期しました。";
    ASSERT_EQ(line.size(), 19 + sentence.size()) << line;
    EXPECT_EQ(line.substr(19), sentence);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char today[16];
    wsprintfA(today, "%04d-%02d-%02d ", now.wYear, now.wMonth, now.wDay);
    EXPECT_EQ(line.substr(0, 11), today);
    // The answer's offset and server, kept per user; no warning.
    const std::string offset = ControlText(GetDlgItem(about, LastOffset));
    EXPECT_EQ(offset.substr(0, 12), "前回の誤差: ") << offset;
    const std::string server = "秒 (サーバ 127.0.0.1)";
    EXPECT_EQ(offset.substr(offset.size() - std::min(offset.size(), server.size())), server) << offset;
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(about, Health)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(about, Drift))); // one answer tells no rate
    ULONGLONG good = 0;
    DWORD size = sizeof good, failures = 99;
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, "Software\\veskar\\quorvane\\Status", "LastGoodTime",
                           RRF_RT_REG_QWORD, nullptr, &good, &size),
              ERROR_SUCCESS);
    EXPECT_NE(good, 0u);
    size = 4;
    RegGetValueA(HKEY_CURRENT_USER, "Software\\veskar\\quorvane\\Status", "Failures", RRF_RT_REG_DWORD, nullptr,
                 &failures, &size);
    EXPECT_EQ(failures, 0u);
    EXPECT_EQ(ControlText(GetDlgItem(about, 1034)), "Quorvane");
    EXPECT_EQ(ControlText(GetDlgItem(about, 1033)), "1.4");
    // Explorer's Properties show the same version, and who made the program.
    std::vector<char> info(GetFileVersionInfoSizeA(program_.c_str(), nullptr) + 1);
    ASSERT_TRUE(GetFileVersionInfoA(program_.c_str(), 0, DWORD(info.size()), info.data()));
    for (const char* block : {"041104B0", "040904B0"}) {
        auto value = [&](const char* name) {
            char* text = nullptr;
            UINT length = 0;
            std::string path = std::string("\\StringFileInfo\\") + block + "\\" + name;
            return VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) && text
                ? std::string(text)
                : std::string("(none)");
        };
        EXPECT_EQ(value("ProductVersion"), "1.4") << block;
        EXPECT_EQ(value("ProductName"), "Quorvane") << block;
        EXPECT_EQ(value("CompanyName"), "veskar") << block;
    }
    CloseDialog(about, IDOK);
    EXPECT_EQ(ExitProgram(), 0u);

    // Without the right to set the clock (Wine refuses a step of 5 s as
    // Windows refuses a limited user): the attempt ends at its answer, and
    // the balloon and the About box name that cause.
    sntp.SetOffsetMs(5000);
    const size_t asked = sntp.RequestTicks().size();
    WithShellLog();
    Start();
    ASSERT_TRUE(WaitFor([&] { return !ShellLog("balloon").empty(); }, 10000));
    Sleep(1500); // a resend would have gone out by now
    EXPECT_EQ(sntp.RequestTicks().size(), asked + 1);
    EXPECT_EQ(ShellLog("balloon"), (std::vector<std::string>{"時計を合わせられませんでした。|このPCでは時計を変更する"
                                                             "権限がありません。管理者に連絡してください。"}));
    EXPECT_EQ(ShellLog("icon").back().substr(0, 8), "warning|");
    DWORD result = 0;
    size = 4;
    RegGetValueA(HKEY_CURRENT_USER, "Software\\veskar\\quorvane\\Status", "LastResult", RRF_RT_REG_DWORD, nullptr,
                 &result, &size);
    EXPECT_EQ(result, 12310u);
    about = OpenDialog(About, LastSync);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(ControlText(GetDlgItem(about, Health)), "時計を合わせられませんでした。");
    EXPECT_EQ(ControlText(GetDlgItem(about, HealthCause)), "時刻合わせに失敗しました。");
    CloseDialog(about, IDOK);
    EXPECT_EQ(ExitProgram(), 0u);
}

// The announcement of `time` at full volume, as the archive's clips give it.
std::vector<int16_t> Announcement(const SYSTEMTIME& time)
{
    char hour[8], minute[8];
    wsprintfA(hour, "H%02d", time.wHour % 12);
    wsprintfA(minute, "M%02d", time.wMinute);
    std::vector<int16_t> samples = ClipSamples(WindowsPath(VOICE_DAT), hour);
    std::vector<int16_t> more = ClipSamples(WindowsPath(VOICE_DAT), minute);
    samples.insert(samples.end(), more.begin(), more.end());
    return samples;
}

TEST_F(QuorvaneTest, TheTalkingClockSpeaksWhenWelcomeAndWhenAsked)
{
    const char* capture = getenv("QV_SOUND_CAPTURE");
    if (!capture)
        GTEST_SKIP() << "no sound capture: run inside the test script's Wine session";
    const std::string captured = WindowsPath(capture);
    SetDword("VoiceInterval", 1); // every minute tick would speak
    WithVoice();
    Start();
    auto capturedBytes = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data;
        return GetFileAttributesExA(captured.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
    };
    auto playedSince = [&](DWORD offset) {
        std::vector<int16_t> played((capturedBytes() - offset) / 2);
        FILE* file = fopen(captured.c_str(), "rb");
        if (file) {
            fseek(file, long(offset), SEEK_SET);
            played.resize(fread(played.data(), 2, played.size(), file));
            fclose(file);
        }
        return played;
    };
    // Everything posted before has been handled (and played: the player is
    // synchronous) once the settings dialog, posted after it, shows.
    auto drain = [&] {
        HWND dialog = OpenDialog(Settings, SyncInterval);
        if (dialog)
            CloseDialog(dialog, IDCANCEL);
    };

    // Early in a minute, after the program's own tick has spoken: a tick
    // speaks; locked, it is silent; asked for, the time is spoken at once,
    // whatever the minute.
    SYSTEMTIME now;
    auto earlyInAMinute = [&](int last) {
        return WaitFor([&] { GetLocalTime(&now); return now.wSecond >= 2 && now.wSecond <= last; }, 65000);
    };
    // A minute whose clip the half-hourly announcements never needed.
    ASSERT_TRUE(WaitFor([&] { return earlyInAMinute(4) && now.wMinute % 30 != 0; }, 130000));
    DWORD before = capturedBytes();
    PostMessageA(main_, WM_TIMER, 1, 0);
    PostMessageA(main_, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
    PostMessageA(main_, WM_TIMER, 1, 0);
    PostMessageA(main_, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 0);
    PostMessageA(main_, WM_COMMAND, SpeakNow, 0);
    std::vector<int16_t> expected = Announcement(now);
    ASSERT_FALSE(expected.empty());
    std::vector<int16_t> twice = expected;
    twice.insert(twice.end(), expected.begin(), expected.end());
    ASSERT_TRUE(WaitFor([&] { return capturedBytes() >= before + twice.size() * 2; }, 20000));
    drain();
    EXPECT_TRUE(playedSince(before) == twice) << now.wHour << ":" << now.wMinute;

    // Quiet hours around now: the tick is silent, "今の時刻を話す" speaks.
    HWND dialog = OpenDialog(Settings, SyncInterval);
    HWND quiet = OpenQuiet(dialog);
    ASSERT_NE(quiet, nullptr);
    Click(quiet, QuietHours);
    SetControlText(quiet, QuietFromHour, std::to_string((now.wHour + 23) % 24).c_str());
    SetControlText(quiet, QuietToHour, std::to_string((now.wHour + 2) % 24).c_str());
    CloseDialog(quiet, IDOK);
    CloseDialog(dialog, IDOK);
    ASSERT_TRUE(earlyInAMinute(7));
    before = capturedBytes();
    PostMessageA(main_, WM_TIMER, 1, 0);
    HWND menu = OpenTrayMenu(); // this time from the menu, where it stands third
    ASSERT_NE(menu, nullptr);
    for (int i = 0; i < 3; ++i)
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    expected = Announcement(now);
    ASSERT_TRUE(WaitFor([&] { return capturedBytes() >= before + expected.size() * 2; }, 20000));
    drain();
    EXPECT_TRUE(playedSince(before) == expected) << now.wHour << ":" << now.wMinute;

    // The volume test (quiet hours do not apply to it): the joined clips at
    // the volume chosen, not the one stored.
    dialog = OpenDialog(Settings, SyncInterval);
    Click(dialog, VolumeMedium);
    before = capturedBytes();
    Click(dialog, VolumeTest);
    expected = ClipSamples(WindowsPath(VOICE_DAT), "H00");
    std::vector<int16_t> minute = ClipSamples(WindowsPath(VOICE_DAT), "M00");
    expected.insert(expected.end(), minute.begin(), minute.end());
    for (int16_t& sample : expected)
        sample = int16_t(sample * (66 * 0.01));
    ASSERT_TRUE(WaitFor([&] { return capturedBytes() >= before + expected.size() * 2; }, 20000));
    CloseDialog(dialog, IDCANCEL);
    EXPECT_TRUE(playedSince(before) == expected);

    EXPECT_EQ(ExitProgram(), 0u);
}

} // namespace

namespace {

// The clock service qvclock.exe, registered as Setup registers it and run by
// Wine's service control manager (which runs it as the same administrator as
// everything else and sets the clock only within half a second).
class ClockServiceTest : public QuorvaneTest {
protected:
    void SetUp() override
    {
        QuorvaneTest::SetUp();
        manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr);
        RemoveService();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, MachineKey);
        std::string path = "\"" + WindowsPath(QVCLOCK_EXE) + "\"";
        service_ = CreateServiceA(manager_, "QuorvaneClock", "Quorvane 時刻合わせ", SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                  path.c_str(), nullptr, nullptr, nullptr, "NT AUTHORITY\\LocalService", nullptr);
        ASSERT_NE(service_, nullptr) << GetLastError();
    }

    void TearDown() override
    {
        RemoveService();
        CloseServiceHandle(manager_);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, MachineKey);
        QuorvaneTest::TearDown();
    }

    static std::string MachineString(const char* name)
    {
        char value[300] = {};
        DWORD size = sizeof value;
        RegGetValueA(HKEY_LOCAL_MACHINE, MachineKey, name, RRF_RT_REG_SZ, nullptr, value, &size);
        return value;
    }

    static DWORD MachineDword(const char* name)
    {
        DWORD value = 0xDEADBEEF, size = 4;
        RegGetValueA(HKEY_LOCAL_MACHINE, MachineKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
        return value;
    }

    // Chooses "今すぐ合わせる" from the tray menu, where it stands third, and
    // returns the progress window.
    HWND SyncNowFromMenu()
    {
        HWND menu = OpenTrayMenu();
        for (int i = 0; i < 3; ++i)
            PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
        HWND window = nullptr;
        EXPECT_TRUE(WaitFor([&] { return (window = FindDialog(process_.dwProcessId, StatusList)) != nullptr; }));
        return window;
    }

    // Runs quorvane.exe /machine-settings with `arguments`; its exit code.
    DWORD RunMachineSettings(const std::string& arguments)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION copy = {};
        std::string commandLine = "\"" + program_ + "\" /machine-settings " + arguments;
        if (!CreateProcessA(program_.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &copy))
            return 54321;
        DWORD code = 12345;
        if (WaitForSingleObject(copy.hProcess, 10000) == WAIT_OBJECT_0)
            GetExitCodeProcess(copy.hProcess, &code);
        CloseHandle(copy.hProcess);
        CloseHandle(copy.hThread);
        return code;
    }

    void RemoveService()
    {
        SC_HANDLE old = service_ ? service_ : OpenServiceA(manager_, "QuorvaneClock", SERVICE_ALL_ACCESS);
        service_ = nullptr;
        if (!old)
            return;
        SERVICE_STATUS status;
        ControlService(old, SERVICE_CONTROL_STOP, &status);
        WaitFor([&] { return State(old) == SERVICE_STOPPED; }, 5000);
        DeleteService(old);
        CloseServiceHandle(old);
    }

    static DWORD State(SC_HANDLE service)
    {
        SERVICE_STATUS status = {};
        QueryServiceStatus(service, &status);
        return status.dwCurrentState;
    }

    // All six machine values, as whoever writes them writes them.
    static void WriteMachineSettings(const char* server)
    {
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, MachineKey, "Server", REG_SZ, server, DWORD(strlen(server) + 1));
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, MachineKey, "Sync", REG_SZ, "", 1);
        const struct { const char* name; DWORD value; } values[] = {
            {"SyncInterval", 30}, {"MaxDelay", 500}, {"Tolerance", 200}, {"TimeShift", 0}};
        for (const auto& v : values)
            RegSetKeyValueA(HKEY_LOCAL_MACHINE, MachineKey, v.name, REG_DWORD, &v.value, 4);
    }

    static ULONGLONG Qword(const char* name)
    {
        ULONGLONG value = 0;
        DWORD size = sizeof value;
        RegGetValueA(HKEY_LOCAL_MACHINE, StatusKey, name, RRF_RT_REG_QWORD, nullptr, &value, &size);
        return value;
    }

    static DWORD LastResult()
    {
        DWORD value = 0, size = 4;
        RegGetValueA(HKEY_LOCAL_MACHINE, StatusKey, "LastResult", RRF_RT_REG_DWORD, nullptr, &value, &size);
        return value;
    }

    static std::vector<std::string> LastLines()
    {
        std::vector<char> buffer(16384);
        DWORD size = DWORD(buffer.size());
        std::vector<std::string> lines;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, StatusKey, "LastLines", RRF_RT_REG_MULTI_SZ, nullptr, buffer.data(),
                         &size)
            != ERROR_SUCCESS)
            return lines;
        for (const char* line = buffer.data(); *line; line += strlen(line) + 1)
            lines.push_back(line);
        return lines;
    }

    // Waits until LastAttemptTime differs from `before`.
    bool NextAttempt(ULONGLONG before, DWORD timeoutMs)
    {
        return WaitFor([&] { return Qword("LastAttemptTime") != before; }, timeoutMs);
    }

    static ULONGLONG Now()
    {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        return ULONGLONG(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    }

    static constexpr const char* MachineKey = "SOFTWARE\\veskar\\quorvane";
    static constexpr const char* StatusKey = "SOFTWARE\\veskar\\quorvane\\Status";
    SC_HANDLE manager_ = nullptr, service_ = nullptr;
};

TEST_F(ClockServiceTest, SetsTheClockByItselfTakesOnlyItsTwoRequestsAndStopsAtOnce)
{
    SntpTestServer server;
    ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::Silent));
    WriteMachineSettings("127.0.0.1");

    // The first attempt comes 10 s after the start; a stop in the middle of
    // it (the server never answers) ends the service within 2 s.
    DWORD started = GetTickCount();
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_RUNNING; }, 3000));
    ASSERT_TRUE(WaitFor([&] { return server.RequestTicks().size() >= 2; }, 15000));
    EXPECT_GE(server.RequestTicks()[0] - started, 9000u);
    SERVICE_STATUS status;
    DWORD stopping = GetTickCount();
    ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_STOPPED; }, 5000));
    EXPECT_LT(GetTickCount() - stopping, 2000u);
    EXPECT_EQ(Qword("LastAttemptTime"), 0u); // a stopped attempt reports nothing

    // Against a server 0.3 s ahead (above the tolerance, within what Wine
    // lets a program set): the clock is set.
    server.SetOffsetMs(300);
    server.SetBehaviour(SntpBehaviour::Answer);
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr));
    const ULONGLONG beforeFirst = Now();
    ASSERT_TRUE(NextAttempt(0, 15000));
    EXPECT_EQ(LastResult(), 12309u);
    EXPECT_GE(Qword("LastSyncTime"), beforeFirst);
    std::vector<std::string> lines = LastLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "サーバを検索しています… (127.0.0.1)");
    EXPECT_EQ(lines[1].rfind("127.0.0.1: 往復遅延 0.00", 0), 0u) << lines[1]; // "…秒、時刻誤差 +0.299秒"
    EXPECT_NE(lines[1].find("、時刻誤差 +0."), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "1台のサーバのうち1台の時刻が一致しました。");
    EXPECT_EQ(lines.back(), "時刻合わせに成功しました。");

    // "Synchronise now" within a minute of the last attempt is declined.
    // Windows hands the handler's ERROR_BUSY to the caller; Wine 8 answers
    // TRUE whatever the handler returns.
    const ULONGLONG first = Qword("LastAttemptTime");
    const size_t requests = server.RequestTicks().size();
    SetLastError(0xdeadbeef);
    if (!ControlService(service_, 128, &status)) {
        EXPECT_EQ(GetLastError(), DWORD(ERROR_BUSY));
    }
    // Re-reading the same settings again and again changes nothing either.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(ControlService(service_, 129, &status));
    Sleep(1500);
    EXPECT_EQ(Qword("LastAttemptTime"), first);
    EXPECT_EQ(server.RequestTicks().size(), requests);

    // 5 s off, Wine refuses the setting: the attempt ends at once in 12310,
    // after one request. A new server name is asked 10 s after it is read.
    server.SetOffsetMs(5000);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, MachineKey, "Server", REG_SZ, "localhost", 10);
    EXPECT_TRUE(ControlService(service_, 129, &status));
    ASSERT_TRUE(NextAttempt(first, 15000));
    EXPECT_EQ(LastResult(), 12310u);
    EXPECT_EQ(server.RequestTicks().size(), requests + 1);
}

// Several addresses for one name, each with a clock of its own: a Python SNTP
// server on 127.0.0.2 and up, and a hosts file bound over /etc/hosts, both
// set up by tests/e2e/service_agreement.sh, which runs this test.
class ServiceAgreement : public ClockServiceTest {
protected:
    // Requests received per address, from the servers' log.
    static int Requests(const char* address)
    {
        const char* log = getenv("QV_AGREEMENT_LOG");
        std::string path = std::string("Z:") + (log ? log : "");
        std::replace(path.begin(), path.end(), '/', '\\');
        FILE* file = fopen(path.c_str(), "r");
        int count = 0;
        char line[64];
        while (file && fgets(line, sizeof line, file))
            count += strncmp(line, address, strlen(address)) == 0 && line[strlen(address)] == '\n';
        if (file)
            fclose(file);
        return count;
    }

    // Points the service at `server` and waits for the attempt 10 s later.
    void Ask(const char* server)
    {
        const ULONGLONG before = Qword("LastAttemptTime");
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, MachineKey, "Server", REG_SZ, server, DWORD(strlen(server) + 1));
        SERVICE_STATUS status;
        ASSERT_TRUE(ControlService(service_, 129, &status));
        ASSERT_TRUE(NextAttempt(before, 20000)) << server;
    }

    static bool HasLine(const char* line)
    {
        const std::vector<std::string> lines = LastLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    // The last attempt's lines, for a failure's message.
    static std::string Shown()
    {
        std::string all;
        for (const std::string& line : LastLines())
            all += "\n  " + line;
        return all;
    }
};

TEST_F(ServiceAgreement, DISABLED_BelievesOnlyAgreeingAddressesAndStepsWithinTheBound)
{
    if (!getenv("QV_AGREEMENT_LOG"))
        GTEST_SKIP() << "run by tests/e2e/service_agreement.sh";
    WriteMachineSettings("agree.test"); // 127.0.0.2 and .3 at +0.3 s, .4 at +100 s
    const ULONGLONG started = Now();
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr));
    ASSERT_TRUE(NextAttempt(0, 20000));
    EXPECT_EQ(LastResult(), 12309u) << Shown();
    std::vector<std::string> lines = LastLines();
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[1].rfind("127.0.0.2: 往復遅延", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("127.0.0.3: 往復遅延", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], "127.0.0.4: 他のサーバと時刻が合わないため使いません。");
    EXPECT_EQ(lines[4], "3台のサーバのうち2台の時刻が一致しました。");
    for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4"})
        EXPECT_EQ(Requests(address), 1) << address;
    const std::string from = [] {
        char value[64] = {};
        DWORD size = sizeof value;
        RegGetValueA(HKEY_LOCAL_MACHINE, StatusKey, "LastServer", RRF_RT_REG_SZ, nullptr, value, &size);
        return std::string(value);
    }();
    EXPECT_TRUE(from == "127.0.0.2" || from == "127.0.0.3") << from;
    const LONGLONG offset = LONGLONG(Qword("LastOffset"));
    EXPECT_GT(offset, 2500000);
    EXPECT_LT(offset, 3500000);
    EXPECT_GE(Qword("LastGoodTime"), started);
    ULONGLONG synced = Qword("LastSyncTime");

    // An address this PC cannot send to (IPv6 without a route) beside one
    // that answers: its own line, the clock set from the other, and the
    // attempts after it still run.
    Ask("mixed.test");
    EXPECT_EQ(LastResult(), 12309u) << Shown();
    EXPECT_TRUE(HasLine("2001:db8::1: このPCからは送れない種類のアドレスです。"));
    EXPECT_EQ(Requests("127.0.0.11"), 1);
    EXPECT_GT(Qword("LastSyncTime"), synced);
    synced = Qword("LastSyncTime");
    // Where no address can be sent to, the firewall is not the reason.
    Ask("v6only.test");
    EXPECT_EQ(LastResult(), 12311u) << Shown();
    EXPECT_TRUE(HasLine("2001:db8::2: このPCからは送れない種類のアドレスです。"));

    // A first answer refused only for its round trip: the resend's answer,
    // which is fast, sets the clock.
    Ask("127.0.0.12");
    EXPECT_EQ(LastResult(), 12309u) << Shown();
    EXPECT_EQ(Requests("127.0.0.12"), 2);
    EXPECT_GT(Qword("LastSyncTime"), synced);
    synced = Qword("LastSyncTime");

    // One at +0.3 s against one at +100 s: no majority, no setting.
    Ask("split.test");
    EXPECT_EQ(LastResult(), 12324u) << Shown();
    EXPECT_EQ(Qword("LastSyncTime"), synced);

    // A single address an hour ahead: a step that large needs two.
    Ask("127.0.0.7");
    EXPECT_EQ(LastResult(), 12325u);
    // The offset shown, truncated to milliseconds: +3599.999 or +3600.000.
    const std::string refused = LastLines().back();
    const std::string prefix = "時計との差が大きすぎるため (+";
    ASSERT_EQ(refused.rfind(prefix, 0), 0u) << refused;
    const double shown = atof(refused.c_str() + prefix.size());
    EXPECT_GT(shown, 3599.9);
    EXPECT_LT(shown, 3600.1);
    EXPECT_EQ(Qword("LastSyncTime"), synced);

    // Two silent addresses: two requests each, then the firewall sentence.
    Ask("silent.test");
    EXPECT_EQ(LastResult(), 12326u);
    EXPECT_TRUE(HasLine("127.0.0.8: 応答がありません。"));
    EXPECT_EQ(Requests("127.0.0.8"), 2);
    EXPECT_EQ(Requests("127.0.0.9"), 2);
    DWORD failures = 0, size = 4;
    RegGetValueA(HKEY_LOCAL_MACHINE, StatusKey, "Failures", RRF_RT_REG_DWORD, nullptr, &failures, &size);
    // The disagreement and the refused step before it count as well: neither
    // corrected the clock.
    EXPECT_EQ(failures, 3u);

    // 10 bytes from the server's own address and port come first: ignored,
    // and the real answer that follows is used.
    Ask("short.test");
    EXPECT_EQ(LastResult(), 12309u);
    EXPECT_GT(Qword("LastSyncTime"), synced);

    // A domain member's clock follows its domain controller: measured, shown,
    // never set; whatever the servers do, the attempt ends standing aside
    // and counts as no failure.
    const char* w32time = "SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters";
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, w32time, "Type", REG_SZ, "NT5DS", 6), ERROR_SUCCESS);
    const ULONGLONG beforeDomain = Qword("LastSyncTime");
    RegGetValueA(HKEY_LOCAL_MACHINE, StatusKey, "Failures", RRF_RT_REG_DWORD, nullptr, &failures, &size);
    const DWORD failuresBefore = failures;
    Ask("silent.test");
    EXPECT_EQ(LastResult(), 12327u);
    EXPECT_TRUE(HasLine("どのサーバからも応答がありません。ファイアウォールなどで UDP ポート 123 が遮断されていないか確認してください。"));
    RegGetValueA(HKEY_LOCAL_MACHINE, StatusKey, "Failures", RRF_RT_REG_DWORD, nullptr, &failures, &size);
    EXPECT_EQ(failures, failuresBefore);
    Ask("agree.test");
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, w32time, "Type");
    EXPECT_EQ(LastResult(), 12327u);
    EXPECT_TRUE(HasLine("3台のサーバのうち2台の時刻が一致しました。"));
    EXPECT_EQ(Qword("LastSyncTime"), beforeDomain);
}

TEST_F(ClockServiceTest, TheTrayProgramShowsAndEditsTheServicesSettingsAndAsksItToSynchronise)
{
    SntpTestServer server;
    ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::Answer));
    server.SetOffsetMs(300);
    WriteMachineSettings("127.0.0.1");
    // The per-user values differ, so that the dialogs show whose they are.
    SetString("Server", "127.0.0.3");
    SetDword("SyncInterval", 45);
    // The last setting two days ago (a PC that was off), and a server that
    // answers: the About box and the tip tell the facts at once, but nothing
    // alarms before the service's first attempt, which puts it right.
    const ULONGLONG twoDaysAgo = Now() - 2ull * 24 * 3600 * 10000000;
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, StatusKey, "LastSyncTime", REG_QWORD, &twoDaysAgo, sizeof twoDaysAgo);
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr));
    WithShellLog();
    Start();
    HWND about = OpenDialog(About, LastSync);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(ControlText(GetDlgItem(about, Health)), "24時間以上、時刻を合わせられていません。");
    EXPECT_EQ(ControlText(GetDlgItem(about, LastSync)).substr(19), " に時刻同期しました。");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(about, LastOffset)));
    CloseDialog(about, IDOK);
    std::vector<std::string> icons = ShellLog("icon");
    ASSERT_FALSE(icons.empty());
    EXPECT_EQ(icons[0].substr(0, 7), "normal|");
    EXPECT_EQ(icons[0].substr(icons[0].rfind('|') + 1), "時刻合わせ: 24時間以上できていません");
    ASSERT_TRUE(NextAttempt(0, 20000));
    EXPECT_EQ(LastResult(), 12309u);
    RefreshHealth();
    icons = ShellLog("icon");
    for (const std::string& icon : icons)
        EXPECT_EQ(icon.substr(0, 7), "normal|") << icon;
    SYSTEMTIME today;
    GetLocalTime(&today);
    char dated[32];
    wsprintfA(dated, "時刻合わせ: %d/%d ", today.wMonth, today.wDay);
    std::string tip = icons.back().substr(icons.back().rfind('|') + 1);
    EXPECT_EQ(tip.substr(0, strlen(dated)), dated) << tip;
    // With the offset the service keeps (0.3 s ahead).
    EXPECT_NE(tip.find(" (誤差 +0."), std::string::npos) << tip;
    EXPECT_TRUE(ShellLog("balloon").empty());
    const ULONGLONG first = Qword("LastAttemptTime");

    // The dialogs show and edit the machine's values; OK writes all six.
    HWND settings = OpenDialog(Settings, SyncInterval);
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(IsEnabled(settings, SyncBox));
    EXPECT_TRUE(IsChecked(settings, SyncBox));
    EXPECT_EQ(ControlText(GetDlgItem(settings, SyncInterval)), "30");
    HWND advanced = OpenAdvanced(settings);
    ASSERT_NE(advanced, nullptr);
    EXPECT_EQ(ControlText(GetDlgItem(advanced, Server)), "127.0.0.1");
    SetControlText(advanced, Server, "localhost");
    SetControlText(advanced, Tolerance, "150");
    CloseDialog(advanced, IDOK);
    EXPECT_EQ(MachineString("Server"), "127.0.0.1"); // not before the settings' OK
    CloseDialog(settings, IDOK);
    EXPECT_EQ(MachineString("Server"), "localhost");
    EXPECT_EQ(MachineDword("Tolerance"), 150u);
    EXPECT_EQ(MachineDword("SyncInterval"), 30u);
    EXPECT_EQ(MachineDword("MaxDelay"), 500u);
    EXPECT_EQ(MachineDword("TimeShift"), 0u);
    EXPECT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, MachineKey, "Sync", RRF_RT_REG_SZ, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);

    // The service reads them (control 129) and asks the new server 10 s
    // later, which is an hour ahead: a step the service takes from no single
    // address. The clock could not be corrected, which the icon, one balloon
    // and the About box tell at once.
    server.SetOffsetMs(3600000);
    ASSERT_TRUE(NextAttempt(first, 20000));
    ASSERT_FALSE(LastLines().empty());
    EXPECT_EQ(LastLines()[0], "サーバを検索しています… (localhost)");
    EXPECT_EQ(LastResult(), 12325u);
    const DWORD attempted = GetTickCount();
    RefreshHealth();
    icons = ShellLog("icon");
    EXPECT_EQ(icons.back().substr(0, 8), "warning|");
    EXPECT_EQ(icons.back().substr(icons.back().rfind('|') + 1), "時刻合わせ: 時計を合わせられません");
    RefreshHealth();
    EXPECT_EQ(ShellLog("balloon"),
              (std::vector<std::string>{"時計を合わせられませんでした。|サーバの時刻が一致しないか、時計が大きくずれて"
                                        "います。一度手で時計を合わせるか、信頼できるサーバを指定してください。"}));
    about = OpenDialog(About, LastSync);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(ControlText(GetDlgItem(about, Health)), "時計を合わせられませんでした。");
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(about, HealthCause)));
    EXPECT_EQ(ControlText(GetDlgItem(about, HealthCause)), LastLines().back());
    EXPECT_EQ(LastLines().back().rfind("時計との差が大きすぎるため (+3", 0), 0u) << LastLines().back();
    // The service's last setting, in local time.
    SYSTEMTIME now;
    GetLocalTime(&now);
    char expected[64];
    wsprintfA(expected, "%04d-%02d-%02d ", now.wYear, now.wMonth, now.wDay);
    const std::string line = ControlText(GetDlgItem(about, LastSync));
    EXPECT_EQ(line.substr(0, 11), expected);
    EXPECT_EQ(line.substr(19), " に時刻同期しました。");
    CloseDialog(about, IDOK);
    // A new logon (here a new run) does not tell the same episode again.
    EXPECT_EQ(ExitProgram(), 0u);
    Start();
    RefreshHealth();
    EXPECT_EQ(ShellLog("icon").back().substr(0, 8), "warning|");
    EXPECT_EQ(ShellLog("balloon").size(), 1u);

    // The elevated copy's command line: bad values change nothing.
    const std::string good = "6c6f63616c686f737400 00000001 0000001e 000001f4 00000064 00000000";
    EXPECT_EQ(RunMachineSettings("6c6f63616c686f737400 00000001 00000000 000001f4 00000064 00000000"), 87u);
    EXPECT_EQ(RunMachineSettings("zz 00000001"), 87u);
    EXPECT_EQ(MachineDword("Tolerance"), 150u);
    EXPECT_EQ(RunMachineSettings(good), 0u);
    EXPECT_EQ(MachineDword("Tolerance"), 100u);

    // "今すぐ合わせる" within a minute of the last attempt's start: the
    // service makes none, and the window shows the last one's lines at once.
    HWND progress = SyncNowFromMenu();
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(WaitFor([&] { return ControlText(GetDlgItem(progress, IDCANCEL)) == "閉じる"; }, 2000));
    std::vector<std::string> shown = ListBoxLines(GetDlgItem(progress, StatusList));
    std::vector<std::string> previous = LastLines();
    previous.insert(previous.begin(), "直前の時刻合わせの結果です。");
    EXPECT_EQ(shown, previous);
    // The list shows its newest line.
    HWND list = GetDlgItem(progress, StatusList);
    RECT client, last;
    GetClientRect(list, &client);
    SendMessageA(list, LB_GETITEMRECT, shown.size() - 1, reinterpret_cast<LPARAM>(&last));
    EXPECT_LE(last.bottom, client.bottom);
    CloseDialog(progress, IDCANCEL);

    // A minute after it, with the server right again: the service's new
    // attempt, whose result the icon and the tip show as soon as it comes;
    // the balloon still shown is withdrawn.
    server.SetOffsetMs(300);
    Sleep(std::max<long>(0, 61000 - long(GetTickCount() - attempted)));
    progress = SyncNowFromMenu();
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(WaitFor([&] { return ControlText(GetDlgItem(progress, IDCANCEL)) == "閉じる"; }, 15000));
    shown = ListBoxLines(GetDlgItem(progress, StatusList));
    EXPECT_EQ(shown, LastLines());
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), "時刻合わせに成功しました。");
    EXPECT_TRUE(WaitFor([&] { return ShellLog("icon").back().substr(0, 7) == "normal|"; }, 3000));
    tip = ShellLog("icon").back().substr(ShellLog("icon").back().rfind('|') + 1);
    EXPECT_EQ(tip.substr(0, strlen(dated)), dated) << tip;
    EXPECT_EQ(ShellLog("balloon").back(), "|");
    CloseDialog(progress, IDCANCEL);

    // With the service stopped: the About box and "今すぐ合わせる" say so at
    // once, and so do the icon and a balloon: it ran and stopped, no delayed
    // start is still to come.
    SERVICE_STATUS status;
    ControlService(service_, SERVICE_CONTROL_STOP, &status);
    ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_STOPPED; }, 5000));
    about = OpenDialog(About, LastSync);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(ControlText(GetDlgItem(about, Health)), "時刻合わせサービスが止まっています。");
    CloseDialog(about, IDOK);
    RefreshHealth();
    EXPECT_EQ(ShellLog("icon").back().substr(0, 8), "warning|");
    EXPECT_EQ(ShellLog("balloon").back(),
              "時刻合わせサービスが止まっています。|管理者がサービス「Quorvane 時刻合わせ」を開始してください。");
    progress = SyncNowFromMenu();
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(WaitFor([&] { return ControlText(GetDlgItem(progress, IDCANCEL)) == "閉じる"; }, 3000));
    EXPECT_EQ(ListBoxLines(GetDlgItem(progress, StatusList)),
              (std::vector<std::string>{"時刻合わせサービスが止まっています。"}));
    CloseDialog(progress, IDCANCEL);
    EXPECT_EQ(ExitProgram(), 0u);
    EXPECT_EQ(GetString("Server"), "127.0.0.3"); // the per-user values stay the user's
}

// Not a test: shows quorvane's windows one after the other for
// scripts/screenshots.sh, which takes a picture of each as it is announced.
class Poser : public QuorvaneTest {
protected:
    void Pose(const char* name, HWND window) { PoseForScreenshot(name, window); }
};

TEST_F(Poser, DISABLED_ForScreenshots)
{
    if (!getenv("QV_SHOT_DIR"))
        GTEST_SKIP();
    SntpTestServer sntp;
    ASSERT_TRUE(sntp.Start("127.0.0.1", SntpBehaviour::Answer));
    SetDword("Tolerance", 0);
    WithVoice();
    Start();
    ASSERT_TRUE(WaitFor([&] { return !sntp.RequestTicks().empty(); }));
    Pose("tray-tip", nullptr); // the script rests the mouse on the icon

    HWND menu = OpenTrayMenu();
    ASSERT_NE(menu, nullptr);
    Pose("tray-menu", nullptr);
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    WaitFor([&] { return !IsWindowVisible(menu); });

    HWND settings = OpenDialog(Settings, SyncInterval);
    Sleep(300);
    Pose("settings", settings);
    HWND quiet = OpenQuiet(settings);
    Click(quiet, QuietHours);
    WaitFor([&] { return IsEnabled(quiet, QuietFromHour); });
    Sleep(300);
    Pose("quiet-hours", quiet);
    CloseDialog(quiet, IDCANCEL);
    HWND advanced = OpenAdvanced(settings);
    Sleep(300);
    Pose("advanced", advanced);
    Click(advanced, TestButton);
    HWND progress = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (progress = FindDialog(process_.dwProcessId, StatusList)) != nullptr; }));
    WaitFor([&] { return ControlText(GetDlgItem(progress, IDCANCEL)) == "閉じる"; });
    Sleep(300);
    Pose("progress-window-test", progress);
    SendMessageA(GetDlgItem(progress, StatusList), WM_VSCROLL, SB_BOTTOM, 0);
    Sleep(300);
    Pose("progress-window-test-end", progress);
    CloseDialog(progress, IDCANCEL);
    CloseDialog(advanced, IDCANCEL);
    CloseDialog(settings, IDCANCEL);

    HWND about = OpenDialog(About, LastSync);
    Sleep(300);
    Pose("about", about);
    CloseDialog(about, IDOK);
    EXPECT_EQ(ExitProgram(), 0u);
}

class ServicePoser : public ClockServiceTest {
};

TEST_F(ServicePoser, DISABLED_ForScreenshots)
{
    if (!getenv("QV_SHOT_DIR"))
        GTEST_SKIP();
    SntpTestServer sntp;
    ASSERT_TRUE(sntp.Start("127.0.0.1", SntpBehaviour::Answer));
    sntp.SetOffsetMs(300);
    WriteMachineSettings("127.0.0.1");
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr));
    WithVoice();
    Start();

    PoseForScreenshot("mouse-on-icon", nullptr); // the menu opens where the mouse is
    HWND menu = OpenTrayMenu();
    ASSERT_NE(menu, nullptr);
    PoseForScreenshot("tray-menu-service", nullptr);
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    WaitFor([&] { return !IsWindowVisible(menu); });

    // The service has made no attempt yet: it makes one at once.
    HWND progress = SyncNowFromMenu();
    ASSERT_TRUE(WaitFor([&] { return ControlText(GetDlgItem(progress, IDCANCEL)) == "閉じる"; }, 15000));
    Sleep(300);
    PoseForScreenshot("progress-window-service", progress);
    CloseDialog(progress, IDCANCEL);

    HWND settings = OpenDialog(Settings, SyncInterval);
    Sleep(300);
    PoseForScreenshot("settings-service", settings);
    CloseDialog(settings, IDCANCEL);
    // A drift learnt from earlier answers: 1.2 s a day fast.
    const DWORD drift = 13889;
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, StatusKey, "Drift", REG_DWORD, &drift, sizeof drift);
    HWND about = OpenDialog(About, LastSync);
    Sleep(300);
    PoseForScreenshot("about-service", about);
    CloseDialog(about, IDOK);

    // The service stopped.
    SERVICE_STATUS status;
    ControlService(service_, SERVICE_CONTROL_STOP, &status);
    ASSERT_TRUE(WaitFor([&] { return State(service_) == SERVICE_STOPPED; }, 5000));
    about = OpenDialog(About, LastSync);
    Sleep(300);
    PoseForScreenshot("about-service-stopped", about);
    CloseDialog(about, IDOK);

    // Two days without a good answer, and a server that does not answer.
    sntp.SetBehaviour(SntpBehaviour::Silent);
    const ULONGLONG twoDaysAgo = Now() - 2ull * 24 * 3600 * 10000000;
    const DWORD noAnswer = 12326;
    for (const char* name : {"LastSyncTime", "LastGoodTime"})
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, StatusKey, name, REG_QWORD, &twoDaysAgo, sizeof twoDaysAgo);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, StatusKey, "LastResult", REG_DWORD, &noAnswer, sizeof noAnswer);
    const ULONGLONG before = Qword("LastAttemptTime");
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr));
    // The stale record alarms once the service's next attempt has failed too.
    ASSERT_TRUE(NextAttempt(before, 20000));
    RefreshHealth();
    PoseForScreenshot("tray-balloon", nullptr);
    PoseForScreenshot("tray-tip-stale", nullptr);
    about = OpenDialog(About, LastSync);
    Sleep(300);
    PoseForScreenshot("about-service-stale", about);
    CloseDialog(about, IDOK);
    EXPECT_EQ(ExitProgram(), 0u);
}

} // namespace
