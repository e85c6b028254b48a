// The settings store against the real registry of the test's Wine prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include "health_store.h"
#include "settings.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, SETTINGS_KEY);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                                  nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(key_);
        RegDeleteTreeA(HKEY_CURRENT_USER, SETTINGS_KEY);
    }

    void Dword(const char* name, LONG value)
    {
        RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    }
    void Raw(const char* name, DWORD type, const void* data, DWORD size)
    {
        RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size);
    }
    bool Has(const char* name, DWORD* type = nullptr, DWORD* size = nullptr)
    {
        DWORD t, s = 0;
        bool found = RegQueryValueExA(key_, name, nullptr, &t, nullptr, &s) == ERROR_SUCCESS;
        if (type)
            *type = t;
        if (size)
            *size = s;
        return found;
    }

    HKEY key_ = nullptr;
};

TEST_F(SettingsTest, FirstStartGetsTheDefaultsAndTheFirstExitWritesAllFourteenValues)
{
    RegCloseKey(key_);
    RegDeleteTreeA(HKEY_CURRENT_USER, SETTINGS_KEY);
    g_settings.SyncInterval = 77;
    ASSERT_TRUE(LoadSettings());
    EXPECT_STREQ(g_settings.Server, DEFAULT_SERVER);
    EXPECT_EQ(g_settings.Sync, 1);
    EXPECT_EQ(g_settings.SyncInterval, 30);
    EXPECT_EQ(g_settings.VoiceInterval, 60);
    EXPECT_EQ(g_settings.VoiceVolume, 100);
    EXPECT_EQ(g_settings.PosX, 0);
    EXPECT_EQ(g_settings.PosY, 0);
    EXPECT_EQ(g_settings.MaxDelay, 500);
    EXPECT_EQ(g_settings.Tolerance, 200);
    EXPECT_EQ(g_settings.TimeShift, 0);
    EXPECT_EQ(g_settings.QuietHours, 0);
    EXPECT_EQ(g_settings.QuietFrom, 1320);
    EXPECT_EQ(g_settings.QuietTo, 420);
    EXPECT_EQ(g_settings.QuietWhenBusy, 1);

    ASSERT_TRUE(SaveSettings());
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_ALL_ACCESS, &key_), ERROR_SUCCESS);
    DWORD values = 0;
    RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    EXPECT_EQ(values, 14u);
    DWORD type, size;
    ASSERT_TRUE(Has("Sync", &type, &size));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, 0u);
    ASSERT_TRUE(Has("Server", &type, &size));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, sizeof DEFAULT_SERVER); // with its NUL
    for (const char* name : {"SyncInterval", "VoiceInterval", "VoiceVolume", "PosX", "PosY", "MaxDelay",
                             "Tolerance", "TimeShift", "QuietHours", "QuietFrom", "QuietTo", "QuietWhenBusy"}) {
        ASSERT_TRUE(Has(name, &type, &size)) << name;
        EXPECT_EQ(type, DWORD(REG_DWORD)) << name;
        EXPECT_EQ(size, 4u) << name;
    }
}

TEST_F(SettingsTest, SyncIsStoredByThePresenceOfAnEmptyString)
{
    // A key without "Sync": off, although the default is on.
    Dword("SyncInterval", 5);
    LoadSettings();
    EXPECT_EQ(g_settings.Sync, 0);
    EXPECT_EQ(g_settings.SyncInterval, 5);

    // "Sync" as REG_DWORD 1 is off too; saving with it off deletes it.
    Dword("Sync", 1);
    LoadSettings();
    EXPECT_EQ(g_settings.Sync, 0);
    SaveSettings();
    EXPECT_FALSE(Has("Sync"));

    // Turned on, it is written back as an empty REG_SZ.
    g_settings.Sync = 1;
    SaveSettings();
    DWORD type, size;
    ASSERT_TRUE(Has("Sync", &type, &size));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, 0u);
    Raw("Sync", REG_SZ, "yes", 4);
    LoadSettings();
    EXPECT_EQ(g_settings.Sync, 1);
}

TEST_F(SettingsTest, OutOfRangeValuesAreRepairedAtBothEdges)
{
    struct Case {
        const char* name;
        LONG stored;
        LONG loaded;
        LONG AppSettings::*field;
    };
    const Case cases[] = {
        {"VoiceVolume", 0, 100, &AppSettings::VoiceVolume},     {"VoiceVolume", 101, 100, &AppSettings::VoiceVolume},
        {"VoiceVolume", 50, 50, &AppSettings::VoiceVolume},     {"VoiceVolume", 1, 1, &AppSettings::VoiceVolume},
        {"MaxDelay", 0, 500, &AppSettings::MaxDelay},           {"MaxDelay", 1, 1, &AppSettings::MaxDelay},
        {"MaxDelay", 1000, 1000, &AppSettings::MaxDelay},       {"MaxDelay", 1001, 500, &AppSettings::MaxDelay},
        {"Tolerance", -1, 200, &AppSettings::Tolerance},        {"Tolerance", 0, 0, &AppSettings::Tolerance},
        {"Tolerance", 1000, 1000, &AppSettings::Tolerance},     {"Tolerance", 1001, 200, &AppSettings::Tolerance},
        {"TimeShift", -301, 0, &AppSettings::TimeShift},        {"TimeShift", -300, -300, &AppSettings::TimeShift},
        {"TimeShift", 300, 300, &AppSettings::TimeShift},       {"TimeShift", 301, 0, &AppSettings::TimeShift},
        {"SyncInterval", 0, 0, &AppSettings::SyncInterval},     {"SyncInterval", 5000, 5000, &AppSettings::SyncInterval},
        {"VoiceInterval", 15, 15, &AppSettings::VoiceInterval}, {"PosX", -7, -7, &AppSettings::PosX},
        {"PosY", 9, 9, &AppSettings::PosY},
        {"QuietHours", 1, 1, &AppSettings::QuietHours},         {"QuietHours", 2, 0, &AppSettings::QuietHours},
        {"QuietHours", -1, 0, &AppSettings::QuietHours},        {"QuietWhenBusy", 0, 0, &AppSettings::QuietWhenBusy},
        {"QuietWhenBusy", 2, 1, &AppSettings::QuietWhenBusy},   {"QuietFrom", 0, 0, &AppSettings::QuietFrom},
        {"QuietFrom", 1439, 1439, &AppSettings::QuietFrom},     {"QuietFrom", 1440, 1320, &AppSettings::QuietFrom},
        {"QuietFrom", -1, 1320, &AppSettings::QuietFrom},       {"QuietTo", 0, 0, &AppSettings::QuietTo},
        {"QuietTo", 1440, 420, &AppSettings::QuietTo},
    };
    for (const Case& c : cases) {
        Dword(c.name, c.stored);
        LoadSettings();
        EXPECT_EQ(g_settings.*c.field, c.loaded) << c.name << " stored as " << c.stored;
    }
    // The repaired value is what the next save writes.
    Dword("MaxDelay", 0);
    LoadSettings();
    SaveSettings();
    LONG saved = 0;
    DWORD size = 4;
    RegQueryValueExA(key_, "MaxDelay", nullptr, nullptr, reinterpret_cast<BYTE*>(&saved), &size);
    EXPECT_EQ(saved, 500);
}

TEST_F(SettingsTest, OddlySizedValuesNeverLeaveAFieldUndefined)
{
    // Shorter than 4 bytes: zero-extended. Longer: not taken.
    const BYTE one = 45;
    Raw("SyncInterval", REG_BINARY, &one, 1);
    const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Raw("VoiceInterval", REG_BINARY, eight, 8);
    LoadSettings();
    EXPECT_EQ(g_settings.SyncInterval, 45);
    EXPECT_EQ(g_settings.VoiceInterval, 60);

    // A server name of 255 bytes fits; one of 256 does not and leaves the
    // default; one stored without its NUL still ends in one.
    std::string longest(255, 'a');
    Raw("Server", REG_SZ, longest.c_str(), DWORD(longest.size() + 1));
    LoadSettings();
    EXPECT_EQ(std::string(g_settings.Server), longest);
    std::string tooLong(256, 'b');
    Raw("Server", REG_SZ, tooLong.c_str(), DWORD(tooLong.size() + 1));
    LoadSettings();
    EXPECT_STREQ(g_settings.Server, DEFAULT_SERVER);
    Raw("Server", REG_BINARY, "ntp.example", 11);
    memset(g_settings.Server, 'x', sizeof g_settings.Server);
    LoadSettings();
    EXPECT_STREQ(g_settings.Server, "ntp.example");
}

// The health record: the tray's own attempts per user, and the drift that
// the clock service keeps through a handle that may only set values.
TEST_F(SettingsTest, TheHealthRecordCountsFailuresAndLearnsTheDrift)
{
    const ULONGLONG day = 864000000000ull, start = 134100000000000000ull, counter = 5000000000ull;
    auto outcome = [](bool good, LONGLONG offset, bool set, const char* server, DWORD result, ULONGLONG finished,
                      ULONGLONG count) {
        return OwnOutcome{good, *server != '\0', offset, set, server, result, finished, count};
    };
    RecordOwnAttempt(start, outcome(false, 0, false, "", 12326, start + 10, counter));
    RecordOwnAttempt(start + 1, outcome(false, 0, false, "", 12304, start + 11, counter));
    HealthRecord record;
    ReadHealthRecord(HKEY_CURRENT_USER, USER_STATUS_KEY, &record);
    EXPECT_EQ(record.failures, 2u);
    EXPECT_EQ(record.lastResult, 12304u);
    EXPECT_EQ(record.lastGood, 0u);
    EXPECT_FALSE(record.offsetKnown);
    // An answer that Windows would not take: its offset is known, the
    // failures count on, and no good time is kept.
    RecordOwnAttempt(start + 2, outcome(false, 72000000000ll, false, "127.0.0.9", 12310, start + 12, counter));
    ReadHealthRecord(HKEY_CURRENT_USER, USER_STATUS_KEY, &record);
    EXPECT_EQ(record.failures, 3u);
    EXPECT_EQ(record.lastResult, 12310u);
    EXPECT_EQ(record.lastGood, 0u);
    EXPECT_EQ(record.offset, 72000000000ll);
    // The good time is the clock read after the setting, not the attempt's start.
    RecordOwnAttempt(start + 3, outcome(true, -3000000, true, "127.0.0.1", 12309, start + 3 + 1000, counter));
    RecordOwnAttempt(start + 3 + day,
                     outcome(true, -12000000, false, "127.0.0.2", 12308, start + 3 + 1000 + day, counter + day));
    ReadHealthRecord(HKEY_CURRENT_USER, USER_STATUS_KEY, &record);
    EXPECT_EQ(record.failures, 0u);
    EXPECT_EQ(record.lastGood, start + 3 + 1000 + day);
    EXPECT_EQ(record.lastAttempt, start + 3 + day);
    EXPECT_TRUE(record.offsetKnown);
    EXPECT_EQ(record.offset, -12000000);
    EXPECT_STREQ(record.server, "127.0.0.2");
    EXPECT_TRUE(record.driftKnown);
    EXPECT_EQ(record.driftPpb, 13889); // 1.2 s a day fast

    const char* status = SETTINGS_KEY "\\MachineStatus";
    HKEY setOnly;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, status, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &setOnly, nullptr),
              ERROR_SUCCESS);
    RecordServiceDrift(setOnly, DriftAnswer{start, counter, 0, false});
    // 0.6 s behind after 12 h
    RecordServiceDrift(setOnly, DriftAnswer{start + day / 2, counter + day / 2, 6000000, false});
    // Standing aside for a domain forgets the reference: the next pair starts anew.
    ClearDriftReference(setOnly);
    RecordServiceDrift(setOnly, DriftAnswer{start + day, counter + day, 0, false});
    RegCloseKey(setOnly);
    ReadHealthRecord(HKEY_CURRENT_USER, status, &record);
    EXPECT_TRUE(record.driftKnown);
    EXPECT_EQ(record.driftPpb, -13889);
}

} // namespace
