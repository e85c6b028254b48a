#include <gtest/gtest.h>

#include "main_window.h"

#include <shellapi.h>

#include "settings.h"
#include "shortcut.h"

#include <string>
#include <vector>

namespace {

SYSTEMTIME At(WORD second, WORD milliseconds, WORD minute = 34)
{
    SYSTEMTIME time = {};
    time.wYear = 2026;
    time.wMonth = 12;
    time.wDay = 7;
    time.wHour = 12;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = milliseconds;
    return time;
}

TEST(Scheduler, TheMinuteTimerAimsAtTheNextMinuteBoundary)
{
    EXPECT_EQ(MillisecondsToNextMinute(At(56, 789)), 3211u);
    EXPECT_EQ(MillisecondsToNextMinute(At(0, 0)), 60000u);
    EXPECT_EQ(MillisecondsToNextMinute(At(59, 999)), 1u);
    EXPECT_EQ(MillisecondsToNextMinute(At(9, 500)), 50500u);
}

// The ticks (1-based) on which attempts start.
std::vector<int> AttemptTicks(LONG interval, int ticks, int disconnectedTick = 0)
{
    std::vector<int> started;
    LONG minutesSinceSync = -1;
    for (int tick = 1; tick <= ticks; ++tick) {
        if (SyncTickStartsAttempt(&minutesSinceSync, tick != disconnectedTick, interval))
            started.push_back(tick);
    }
    return started;
}

TEST(Scheduler, AttemptsStartAtOnceThenEveryIntervalTicks)
{
    EXPECT_EQ(AttemptTicks(30, 70), (std::vector<int>{1, 31, 61}));
    EXPECT_EQ(AttemptTicks(1, 3), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(AttemptTicks(0, 3), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(AttemptTicks(-5, 3), (std::vector<int>{1, 2, 3}));
    // A tick without a connection: the next connected tick starts at once,
    // and counting starts again from there.
    EXPECT_EQ(AttemptTicks(30, 50, 10), (std::vector<int>{1, 11, 41}));
}

TEST(Scheduler, MinuteTicksRefreshTheTipAndSpeakOnlyOnTime)
{
    EXPECT_EQ(MinuteTickActionAt(At(0, 0, 0), 60), MinuteAnnounced);
    EXPECT_EQ(MinuteTickActionAt(At(0, 0, 0), 30), MinuteAnnounced);
    EXPECT_EQ(MinuteTickActionAt(At(0, 0, 0), 0), MinuteRefreshed);
    EXPECT_EQ(MinuteTickActionAt(At(9, 999, 30), 60), MinuteRefreshed);
    EXPECT_EQ(MinuteTickActionAt(At(9, 999, 30), 30), MinuteAnnounced);
    EXPECT_EQ(MinuteTickActionAt(At(0, 0, 34), 30), MinuteRefreshed);
    // Ten seconds late or more: the minute is skipped, tip and voice alike.
    EXPECT_EQ(MinuteTickActionAt(At(10, 0, 0), 60), MinuteSkipped);
    EXPECT_EQ(MinuteTickActionAt(At(12, 0, 0), 30), MinuteSkipped);
}

LONG StoredSyncInterval()
{
    LONG value = 0;
    DWORD size = sizeof value;
    RegGetValueA(HKEY_CURRENT_USER, SETTINGS_KEY, "SyncInterval", RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

bool TrayIconPresent(HWND window)
{
    NOTIFYICONDATAA icon = {};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = window;
    icon.uID = TRAY_ICON_ID;
    return Shell_NotifyIconA(NIM_MODIFY, &icon) != FALSE;
}

TEST(MainWindow, SavesAtEndOfSessionAndAtCloseAndAddsALostIconAgain)
{
    RegDeleteTreeA(HKEY_CURRENT_USER, SETTINGS_KEY);
    LoadSettings();
    g_settings.Sync = 0; // no attempt while the window lives
    g_instance = GetModuleHandleA(nullptr);
    g_smallIcon = LoadIconA(nullptr, IDI_APPLICATION);
    ASSERT_TRUE(RegisterMainWindowClass(g_smallIcon));
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, MAIN_WINDOW_CLASS, MAIN_WINDOW_CLASS, WS_OVERLAPPEDWINDOW, 0, 0,
                                  100, 100, nullptr, nullptr, g_instance, nullptr);
    ASSERT_NE(window, nullptr);

    // The shell lost the icon: the next refresh adds it again.
    ASSERT_TRUE(TrayIconPresent(window));
    NOTIFYICONDATAA icon = {};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = window;
    icon.uID = TRAY_ICON_ID;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &icon));
    ASSERT_FALSE(TrayIconPresent(window));
    UpdateTrayIcon(window, TrayModify);
    EXPECT_TRUE(TrayIconPresent(window));

    g_settings.SyncInterval = 77;
    SendMessageA(window, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(StoredSyncInterval(), 77);
    g_settings.SyncInterval = 88;
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(StoredSyncInterval(), 88);
    EXPECT_FALSE(IsWindow(window));
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    RegDeleteTreeA(HKEY_CURRENT_USER, SETTINGS_KEY);
}

TEST(Shortcut, TheStartupFolderIsExpandedAndMustBeAbsolute)
{
    const char key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    char saved[MAX_PATH] = {};
    DWORD savedSize = sizeof saved, savedType = 0;
    ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, key, "Startup", RRF_RT_ANY | RRF_NOEXPAND, &savedType, saved,
                           &savedSize),
              ERROR_SUCCESS);
    auto put = [&](DWORD type, const char* value) {
        RegSetKeyValueA(HKEY_CURRENT_USER, key, "Startup", type, value, DWORD(strlen(value) + 1));
    };
    char path[MAX_PATH];
    SetEnvironmentVariableA("QV_STARTUP_TEST", "C:\\users\\テスト表示");
    put(REG_EXPAND_SZ, "%QV_STARTUP_TEST%\\Startup");
    EXPECT_TRUE(GetStartupShortcutPath(path, sizeof path));
    EXPECT_STREQ(path, "C:\\users\\テスト表示\\Startup\\Quorvane.lnk");
    // Not an absolute path: no shortcut path at all.
    for (const char* relative : {"Startup", "%QV_UNSET_VARIABLE%\\Startup", "\\Startup"}) {
        put(REG_EXPAND_SZ, relative);
        EXPECT_FALSE(GetStartupShortcutPath(path, sizeof path)) << relative;
        EXPECT_STREQ(path, "") << relative;
    }
    RegSetKeyValueA(HKEY_CURRENT_USER, key, "Startup", savedType, saved, savedSize);
}

} // namespace
