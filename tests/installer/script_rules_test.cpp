#include <gtest/gtest.h>

#include <string>

#include "dbcs_path.h"
#include "script_rules.h"
#include "wininit.h"

namespace {

// CP932 characters whose second byte is the "\" code.
#define SO "\x83\x5c"  // ソ
#define HYO "\x95\x5c" // 表

TEST(DbcsPath, TheSecondByteOfADoubleByteCharacterIsNeverASeparator)
{
    const char text[] = "C:\\" SO "," HYO "\\x.exe";
    EXPECT_EQ(FindCharDbcs(text, ',') - text, 5);
    EXPECT_EQ(FindCharDbcs(text + 3, '\\') - text, 8);
    EXPECT_EQ(FindCharDbcs(SO HYO, '\\'), nullptr);
    EXPECT_EQ(FindCharDbcs("abc", ','), nullptr);

    EXPECT_TRUE(IsTrailByteAt(text, 4));
    EXPECT_FALSE(IsTrailByteAt(text, 3));
    EXPECT_FALSE(IsTrailByteAt(text, 2));
    EXPECT_FALSE(IsTrailByteAt(text, 8));

    char folder[PathSize] = "C:\\" SO;
    ASSERT_TRUE(EnsureTrailingBackslash(folder, sizeof folder));
    EXPECT_STREQ(folder, "C:\\" SO "\\");
    ASSERT_TRUE(EnsureTrailingBackslash(folder, sizeof folder));
    EXPECT_STREQ(folder, "C:\\" SO "\\"); // a real one is not doubled
    char empty[4] = "";
    EXPECT_TRUE(EnsureTrailingBackslash(empty, sizeof empty));
    EXPECT_STREQ(empty, "\\");
    char full[4] = "abc";
    EXPECT_FALSE(EnsureTrailingBackslash(full, sizeof full));
    EXPECT_STREQ(full, "abc");
}

TEST(ScriptRules, ScriptNameAndDestinations)
{
    char name[PathSize];
    ASSERT_TRUE(ScriptFileName("SETUP.EXE", name, sizeof name));
    EXPECT_STREQ(name, "SETUP.INF");
    ASSERT_TRUE(ScriptFileName("INSTALL", name, sizeof name));
    EXPECT_STREQ(name, "INSTINF");
    EXPECT_FALSE(ScriptFileName("AB", name, sizeof name));

    char destination[PathSize];
    char folder[100] = "Tools";
    ASSERT_TRUE(DefaultDestination("C:\\WINDOWS", "", folder, destination, sizeof destination));
    EXPECT_STREQ(destination, "C:\\Program Files\\Tools\\");
    // The programs folder that Windows names (a 32-bit program's on 64-bit Windows).
    ASSERT_TRUE(DefaultDestination("C:\\WINDOWS", "D:\\Program Files (x86)", folder, destination, sizeof destination));
    EXPECT_STREQ(destination, "D:\\Program Files (x86)\\Tools\\");
    char rooted[100] = "\\Tools";
    ASSERT_TRUE(DefaultDestination("C:\\WINDOWS", "D:\\Program Files (x86)", rooted, destination, sizeof destination));
    EXPECT_STREQ(destination, "C:\\Tools\\");
    EXPECT_STREQ(rooted, "Tools");
    char japanese[100] = "\x83\x5c\x83\x74\x83\x67"; // ソフト
    ASSERT_TRUE(DefaultDestination("\\\\server\\windows", "", japanese, destination, sizeof destination));
    EXPECT_STREQ(destination, "c:\\" "\x83\x5c\x83\x74\x83\x67" "\\");

    // The uninstall copy of a 32-bit program on 64-bit Windows lies in SysWOW64.
    char copy[PathSize];
    ASSERT_TRUE(RealCopyPath("C:\\WINDOWS\\system32\\Tools Setup.EXE", "C:\\Windows\\System32", "C:\\Windows\\SysWOW64",
                             copy, sizeof copy));
    EXPECT_STREQ(copy, "C:\\Windows\\SysWOW64\\Tools Setup.EXE");
    for (const char* wow64 : {"", "C:\\Windows\\SysWOW64"}) {
        ASSERT_TRUE(RealCopyPath("C:\\Other\\SETUP.EXE", "C:\\Windows\\System32", wow64, copy, sizeof copy));
        EXPECT_STREQ(copy, "C:\\Other\\SETUP.EXE");
    }

    strcpy(destination, "C:\\Program Files\\Tools\\");
    PreviousDestination("\"D:\\Apps\\Tools\\X.EXE\" /r", destination, sizeof destination);
    EXPECT_STREQ(destination, "D:\\Apps\\Tools\\");
    PreviousDestination("E:\\Apps\\Tools\\X.EXE /r", destination, sizeof destination);
    EXPECT_STREQ(destination, "E:\\Apps\\Tools\\");
    PreviousDestination("\"F:\\" SO "\\" HYO ".EXE\" /r", destination, sizeof destination);
    EXPECT_STREQ(destination, "F:\\" SO "\\");
    PreviousDestination("G:\\NoArguments", destination, sizeof destination);
    EXPECT_STREQ(destination, "G:\\NoArguments");
}

TEST(ScriptRules, InstallEntries)
{
    const char* destination = "C:\\Program Files\\Tools\\";
    InstallEntry entry;
    ASSERT_EQ(ParseInstallEntry("tools.exe", destination, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", &entry),
              EntryKind::Destination);
    EXPECT_STREQ(entry.source, "tools.exe");
    EXPECT_STREQ(entry.target, "C:\\Program Files\\Tools\\tools.exe");
    EXPECT_EQ(entry.relativePart, strlen(destination));

    ASSERT_EQ(ParseInstallEntry("sub\\data\\x.dat", destination, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", &entry),
              EntryKind::Destination);
    EXPECT_STREQ(entry.target, "C:\\Program Files\\Tools\\sub\\data\\x.dat");

    ASSERT_EQ(ParseInstallEntry("a.txt,docs\\b.txt", destination, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", &entry),
              EntryKind::Destination);
    EXPECT_STREQ(entry.source, "a.txt");
    EXPECT_STREQ(entry.target, "C:\\Program Files\\Tools\\docs\\b.txt");

    ASSERT_EQ(ParseInstallEntry("readme.txt,w!readme.txt", destination, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM",
                                &entry),
              EntryKind::Destination);
    EXPECT_STREQ(entry.target, "C:\\WINDOWS\\readme.txt");
    EXPECT_EQ(entry.relativePart, strlen("C:\\WINDOWS\\"));

    ASSERT_EQ(ParseInstallEntry("lib.dll,s!lib.dll", destination, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", &entry),
              EntryKind::System);
    EXPECT_STREQ(entry.target, "C:\\WINDOWS\\SYSTEM\\lib.dll");

    ASSERT_EQ(ParseInstallEntry(",old.dll", destination, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", &entry),
              EntryKind::Destination);
    EXPECT_STREQ(entry.source, "");
    EXPECT_STREQ(entry.target, "C:\\Program Files\\Tools\\old.dll");

    // A source name whose second byte is "," is not split there.
    ASSERT_EQ(ParseInstallEntry("\x83\x2c.txt", destination, "C:\\W", "C:\\S", &entry), EntryKind::Destination);
    EXPECT_STREQ(entry.source, "\x83\x2c.txt");

    EXPECT_EQ(ParseInstallEntry("", destination, "C:\\W", "C:\\S", &entry), EntryKind::End);

    // A part that would write or delete outside its folder; the second
    // byte of ソ or 表 is no separator.
    for (const char* outside : {"..\\victim.txt", ",..\\victim.txt", "a.txt,w!..\\win.ini", "a.txt,s!sub/../../x.dll",
                                "a.txt,sub\\ . .\\x", "C:\\victim.txt", "a.txt,C:x", "a.txt,\\victim.txt",
                                "a.txt,/victim.txt", "a.txt,w!/x", "x.exe:stream"})
        EXPECT_EQ(ParseInstallEntry(outside, destination, "C:\\W", "C:\\S", &entry), EntryKind::Outside) << outside;
    for (const char* inside : {"..a\\b..\\c.txt", "a.txt,w!" SO "\\" HYO ".txt", ",.\\old.dll", "a...txt"})
        EXPECT_NE(ParseInstallEntry(inside, destination, "C:\\W", "C:\\S", &entry), EntryKind::Outside) << inside;
    EXPECT_TRUE(IsPlainName("\x83\x65\x83\x58\x83\x67\x95\x5c\x8e\xa6\x83\x5c\x83\x74\x83\x67")); // テスト表示ソフト
    for (const char* name : {"a\\b", "a/b", "C:", "a*", "a?", "a\"b", "<a", "a>", "a|b", "..", ". .", "a\tb"})
        EXPECT_FALSE(IsPlainName(name)) << name;
    EXPECT_TRUE(IsFolderName("Tools\\" SO "\\" HYO));
    for (const char* folder : {"", ".", "a\\.", "..\\Windows", "a\\", "\\a", "a\\\\b", "C:\\a", "a/b"})
        EXPECT_FALSE(IsFolderName(folder)) << folder;

    // A target that would not fit is refused whole, never cut.
    std::string longName(260 - strlen(destination), 'n');
    EXPECT_EQ(ParseInstallEntry(longName.c_str(), destination, "C:\\W", "C:\\S", &entry), EntryKind::TooLong);
    EXPECT_STREQ(entry.target, "");
    longName.pop_back();
    EXPECT_EQ(ParseInstallEntry(longName.c_str(), destination, "C:\\W", "C:\\S", &entry), EntryKind::Destination);
    EXPECT_EQ(strlen(entry.target), 259u);
}

TEST(ScriptRules, ShortcutAndRegistryEntries)
{
    char caption[PathSize], target[PathSize];
    ASSERT_EQ(ParseGroupEntry("Tools,tool.exe,/s", "C:\\T\\", caption, sizeof caption, target, sizeof target),
              GroupKind::Shortcut);
    EXPECT_STREQ(caption, "Tools");
    EXPECT_STREQ(target, "C:\\T\\tool.exe,/s");
    EXPECT_EQ(ParseGroupEntry("NoComma", "C:\\T\\", caption, sizeof caption, target, sizeof target), GroupKind::End);
    EXPECT_EQ(ParseGroupEntry("", "C:\\T\\", caption, sizeof caption, target, sizeof target), GroupKind::End);
    EXPECT_EQ(ParseGroupEntry(SO "," HYO ".exe", "C:\\T\\", caption, sizeof caption, target, sizeof target),
              GroupKind::Shortcut);
    EXPECT_STREQ(caption, SO);
    EXPECT_EQ(ParseGroupEntry("..\\x,tool.exe", "C:\\T\\", caption, sizeof caption, target, sizeof target),
              GroupKind::BadCaption);
    std::string longTarget = "x," + std::string(300, 'y');
    EXPECT_EQ(ParseGroupEntry(longTarget.c_str(), "C:\\T\\", caption, sizeof caption, target, sizeof target),
              GroupKind::TooLong);

    const char* path = nullptr;
    EXPECT_EQ(ParseRegValue("HKEY_CURRENT_USER\\Software\\Tools\\Options", &path), RegRoot::CurrentUser);
    EXPECT_STREQ(path, "Software\\Tools\\Options");
    EXPECT_EQ(ParseRegValue("HKEY_LOCAL_MACHINE/SOFTWARE\\Tools", &path), RegRoot::LocalMachine);
    EXPECT_STREQ(path, "SOFTWARE\\Tools");
    EXPECT_EQ(ParseRegValue("HKEY_CLASSES_ROOT\\.tls\\shell", &path), RegRoot::ClassesRoot);
    EXPECT_EQ(ParseRegValue("hkey_current_user\\Software\\Tools", &path), RegRoot::None);
    // A root alone, or with one key, would delete what many programs share.
    for (const char* rootOnly : {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\", "HKEY_LOCAL_MACHINE\\\\\\",
                                 "HKEY_CLASSES_ROOTX", "HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\",
                                 "HKEY_LOCAL_MACHINE\\SOFTWARE", "HKEY_CLASSES_ROOT\\exefile", "HKEY_CURRENT_USER\\\\Software\\\\"})
        EXPECT_EQ(ParseRegValue(rootOnly, &path), RegRoot::None) << rootOnly;
}

TEST(Wininit, TheRenameSectionKeepsEveryLineAndMovesToTheEnd)
{
    const std::string old = "[boot]\r\nshell=explorer.exe\r\n[Rename]\r\nNUL=C:\\TEMP\\A.TMP\r\n"
                            "NUL=C:\\TEMP\\B.TMP\r\nC:\\NEW.DLL=C:\\NEW.TMP\r\n[other]\r\ny=2\r\n\x1a";
    char out[4096];
    size_t length = AddRenameDeletion(old.data(), old.size(), "C:\\WINDOWS\\SYSTEM\\SETUP.EXE", out, sizeof out);
    EXPECT_EQ(std::string(out, length),
              "[boot]\r\nshell=explorer.exe\r\n[other]\r\ny=2\r\n[Rename]\r\nNUL=C:\\TEMP\\A.TMP\r\n"
              "NUL=C:\\TEMP\\B.TMP\r\nC:\\NEW.DLL=C:\\NEW.TMP\r\nNUL=C:\\WINDOWS\\SYSTEM\\SETUP.EXE\r\n");

    length = AddRenameDeletion("", 0, "C:\\X.EXE", out, sizeof out);
    EXPECT_EQ(std::string(out, length), "[Rename]\r\nNUL=C:\\X.EXE\r\n");

    const std::string noNewline = "[rename]\r\nNUL=C:\\A";
    length = AddRenameDeletion(noNewline.data(), noNewline.size(), "C:\\B", out, sizeof out);
    EXPECT_EQ(std::string(out, length), "[Rename]\r\nNUL=C:\\A\r\nNUL=C:\\B\r\n");

    // A section that would pass 30,000 bytes is not written at all.
    std::string huge = "[Rename]\r\n";
    while (huge.size() < 30100)
        huge += "NUL=C:\\TEMP\\LONGNAME.TMP\r\n";
    static char big[65536];
    EXPECT_EQ(AddRenameDeletion(huge.data(), huge.size(), "C:\\X", big, sizeof big), 0u);
    EXPECT_EQ(AddRenameDeletion(old.data(), old.size(), "C:\\X", out, 20), 0u);
}

} // namespace
