#include <gtest/gtest.h>

#include <string>

#include "command_line.h"
#include "dbcs_path.h"
#include "script_rules.h"
#include "service_rules.h"
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

    // A file of the System folder of a 32-bit program on 64-bit Windows
    // (the uninstall copy, a product's "s!" program) lies in SysWOW64.
    char copy[PathSize];
    ASSERT_TRUE(RealSystemPath("C:\\WINDOWS\\system32\\Tools Setup.EXE", "C:\\Windows\\System32",
                               "C:\\Windows\\SysWOW64", copy, sizeof copy));
    EXPECT_STREQ(copy, "C:\\Windows\\SysWOW64\\Tools Setup.EXE");
    ASSERT_TRUE(RealSystemPath("C:\\Windows\\System32\\Tools\\t.exe", "C:\\Windows\\System32\\",
                               "C:\\Windows\\SysWOW64", copy, sizeof copy));
    EXPECT_STREQ(copy, "C:\\Windows\\SysWOW64\\Tools\\t.exe");
    for (const char* wow64 : {"", "C:\\Windows\\SysWOW64"}) {
        for (const char* other : {"C:\\Other\\SETUP.EXE", "C:\\Windows\\System32x\\a.exe", "C:\\Windows\\System3"}) {
            ASSERT_TRUE(RealSystemPath(other, "C:\\Windows\\System32", wow64, copy, sizeof copy));
            EXPECT_STREQ(copy, other);
        }
    }

    // Folders that are no product's own: the Windows folder and all below
    // it, the others themselves only.
    const char* const places[] = {"C:\\Program Files", "", "C:\\Users\\" SO "\\Desktop\\"};
    const struct {
        const char* destination;
        bool reserved;
    } folders[] = {
        {"C:\\Windows\\", true}, {"c:\\WINDOWS", true}, {"C:\\Windows\\Tools\\", true},
        {"C:\\Program Files\\", true}, {"C:\\program files", true}, {"C:\\Users\\" SO "\\Desktop", true},
        {"C:\\Program Files\\Tools\\", false}, {"C:\\Users\\" SO "\\Desktop\\Tools\\", false},
        {"C:\\WindowsApps\\", false}, {"C:\\Program Files (x86)\\", false}, {"D:\\Windows\\", false},
    };
    for (const auto& f : folders)
        EXPECT_EQ(IsReservedDestination(f.destination, "C:\\Windows", places, 3), f.reserved) << f.destination;
    // The protection of a folder Setup makes: Program Files' own, as since
    // Windows 8 (application packages may read and run).
    EXPECT_STREQ(ProductFolderSddl, "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
                                    "(A;OICI;0x1200a9;;;S-1-15-2-1)(A;OICI;0x1200a9;;;S-1-15-2-2)");

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
    // System files go through "s!" (kept at uninstall), never "w!".
    for (const char* system : {"a.dll,w!System32\\a.dll", "a.dll,W!system32\\a.dll", "a.dll,w!SysWOW64\\a.dll",
                               "a.dll,w!sysnative\\a.dll", "a.dll,w!WinSxS\\x\\a.dll", "a.dll,w!System32 .\\a.dll",
                               "a.dll,w!system32/a.dll", "a.dll,w!.\\System32\\a.dll", "a.dll,w!./SysWOW64/a.dll",
                               "a.dll,w!.\\.\\/system32\\a.dll"})
        EXPECT_EQ(ParseInstallEntry(system, destination, "C:\\W", "C:\\S", &entry), EntryKind::Outside) << system;
    // The System folder by its own name below the Windows folder (Windows
    // NT's "SYSTEM32", an old "SYSTEM"), however it is spelled.
    for (const char* system : {"a.dll,w!SYSTEM\\a.dll", "a.dll,w!.\\system.\\a.dll", "a.dll,w!./System/a.dll"})
        EXPECT_EQ(ParseInstallEntry(system, destination, "C:\\WINDOWS\\", "C:\\windows\\SYSTEM", &entry),
                  EntryKind::Outside) << system;
    EXPECT_EQ(ParseInstallEntry("a.dll,w!Systemx\\a.dll", destination, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", &entry),
              EntryKind::Destination);
    for (const char* inside : {"..a\\b..\\c.txt", "a.txt,w!" SO "\\" HYO ".txt", ",.\\old.dll", "a...txt",
                               "a.txt,w!System32.txt", "a.txt,w!System\\a.txt", "a.dll,s!System32\\a.dll"})
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
    EXPECT_EQ(ParseRegValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tools", &path), RegRoot::LocalMachine);
    EXPECT_STREQ(path, "SOFTWARE\\Tools");
    EXPECT_EQ(ParseRegValue("HKEY_CLASSES_ROOT\\.tls\\shell", &path), RegRoot::ClassesRoot);
    // A product's own file type or ProgID, one key under the class root.
    EXPECT_EQ(ParseRegValue("HKEY_CLASSES_ROOT\\.tls", &path), RegRoot::ClassesRoot);
    EXPECT_STREQ(path, ".tls");
    // The root name, then exactly one "\": anything else names no known root.
    for (const char* unknown : {"HKEY_LOCAL_MACHINE/SOFTWARE\\Tools", "HKEY_CURRENT_USERX\\Software\\Foo",
                                "HKEY_CURRENT_USER Software\\Foo", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows"})
        EXPECT_EQ(ParseRegValue(unknown, &path), RegRoot::None) << unknown;
    EXPECT_EQ(ParseRegValue("hkey_current_user\\Software\\Tools", &path), RegRoot::None);
    // A root alone, or with one key, would delete what many programs share.
    for (const char* rootOnly : {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\", "HKEY_LOCAL_MACHINE\\\\\\",
                                 "HKEY_CLASSES_ROOTX", "HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\",
                                 "HKEY_LOCAL_MACHINE\\SOFTWARE", "HKEY_CLASSES_ROOT\\exefile", "HKEY_CURRENT_USER\\\\Software\\\\"})
        EXPECT_EQ(ParseRegValue(rootOnly, &path), RegRoot::None) << rootOnly;
}

TEST(ScriptRules, DriveRootsInEverySpelling)
{
    for (const char* root : {"C:\\", "C:\\.\\", "C:\\x\\..\\", "C:\\\\", "c:/", "C:\\..\\", "C:\\x\\y\\..\\..\\.",
                             "C:\\" SO "\\..\\"})
        EXPECT_TRUE(IsDriveRootPath(root)) << root;
    for (const char* folder : {"C:\\x\\", "C:\\x\\y\\..\\", "C:\\..\\x", "C:\\.x\\", "C:\\x..\\", "C:", "Soft\\",
                               "\\\\server\\share\\", "C:\\" SO "\\"})
        EXPECT_FALSE(IsDriveRootPath(folder)) << folder;
}

TEST(ScriptRules, KeysThatWindowsAndOtherProgramsRelyOnAreNeverDeleted)
{
    const RegRoot HKCU = RegRoot::CurrentUser, HKLM = RegRoot::LocalMachine, HKCR = RegRoot::ClassesRoot;
    const struct {
        RegRoot root;
        const char* key;
        bool deletable;
    } cases[] = {
        // Only SOFTWARE\<vendor> and below, for a vendor of its own.
        {HKCU, "Software\\Tools", true}, {HKLM, "SOFTWARE\\Tools\\Options", true}, {HKLM, "SYSTEM2\\x", false},
        {HKCU, "Environment", false}, {HKCU, "Control Panel\\Desktop", false}, {HKLM, "HARDWARE\\x", false},
        {HKCU, "", false}, {HKLM, "SOFTWARE", false}, {HKLM, "SOFTWARE\\\\", false}, {HKLM, "\\SOFTWARE\\", false},
        {HKLM, "SOFTWARE\\Microsoft", false}, {HKCU, "software\\microsoft\\Windows\\CurrentVersion\\Run", false},
        {HKLM, "SOFTWARE\\\\Microsoft\\", false}, {HKLM, "SOFTWARE\\Wow6432Node\\Tools", false},
        {HKLM, "SOFTWARE\\Policies\\Tools", false}, {HKLM, "SOFTWARE\\Clients\\Mail", false},
        {HKLM, "SOFTWARE\\RegisteredApplications", false}, {HKLM, "SYSTEM\\CurrentControlSet", false},
        {HKCU, "System\\x", false}, {HKLM, "SOFTWARE\\Classes", false}, {HKCU, "Software\\Classes\\.tls", false},
        {HKLM, "SOFTWARE\\Classes\\Tools.Document", false},
        // The class registry: the product's own types and ProgIDs, never
        // the shared containers (at any depth) nor Windows' own types.
        {HKCR, ".tls", true}, {HKCR, "Tools.Document\\shell\\open", true},
        {HKCR, "CLSID\\{0A1B2C3D-0000-0000-0000-000000000001}", false}, {HKCR, "Directory\\shell\\Tools", false},
        {HKCR, "", false}, {HKCR, "CLSID", false}, {HKCR, "clsid\\", false}, {HKCR, "*", false}, {HKCR, "Interface", false},
        {HKCR, "TypeLib\\{0A1B2C3D-0000-0000-0000-000000000001}", false}, {HKCR, "AppID", false},
        {HKCR, "Installer\\Products", false}, {HKCR, "PROTOCOLS\\Handler\\tls", false}, {HKCR, "MIME\\Database", false},
        {HKCR, "Applications", false}, {HKCR, "Folder", false},
        {HKCR, "Drive", false}, {HKCR, "AllFilesystemObjects", false}, {HKCR, "SystemFileAssociations", false},
        {HKCR, ".exe", false}, {HKCR, ".TXT", false}, {HKCR, "exefile\\shell\\open\\command", false},
        {HKCR, "Msi.Package", false}, {HKCR, "VBSFile", false}, {HKCR, ".ps1", false}, {HKCR, "Wow6432Node\\CLSID", false},
        {HKCR, ".reg", false}, {HKCR, ".htm", false}, {HKCR, ".HTML\\OpenWithProgids", false}, {HKCR, ".url", false},
        {HKCR, ".zip", false}, {HKCR, ".inf", false}, {HKCR, ".ini", false}, {HKCR, ".hta", false}, {HKCR, ".msc", false},
        {HKCR, ".cpl", false}, {HKCR, ".wsf", false}, {HKCR, "http\\shell\\open\\command", false}, {HKCR, "HTTPS", false},
        {HKCR, "regfile\\shell", false}, {HKCR, "mailto", false}, {HKCR, "ms-settings", false},
        {HKCR, "MS-Windows-Store\\shell", false}, {HKCR, "search-ms", false}, {HKCR, "Local Settings\\Software", false},
        {HKCR, ".jse", false}, {HKCR, ".vbe", false}, {HKCR, ".psm1", false}, {HKCR, "Microsoft.PowerShellScript.1", false},
        {HKCR, "JSEFile\\shell", false}, {HKCR, "ftp", false}, {HKCR, "Unknown", false}, {HKCR, "DirectShow", false},
        {HKCR, "msx", true}, {HKCR, "ms", true},
        {HKLM, "SOFTWARE\\ODBC\\ODBC.INI", false}, {HKCU, "Software\\Description", false},
        {HKCU, "Software\\Classes\\CLSID", false}, {HKLM, "SOFTWARE\\Classes\\.lnk", false},
        {HKLM, "SOFTWARE\\Classes\\batfile\\shell", false}, {RegRoot::None, "Software\\Tools", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsDeletableKey(c.root, c.key), c.deletable) << int(c.root) << " " << c.key;
}

TEST(CommandLine, SilentModeOptionsAndTheUninstallCopysCommand)
{
    const struct {
        const char* text;
        SetupAction action;
        bool silent, desktop;
        const char* destination;
        const char* log;
        const char* path;
    } cases[] = {
        {"", SetupAction::Wizard, false, false, "", "", ""},
        {"/S", SetupAction::Wizard, true, false, "", "", ""},
        {"/s /DESKTOP /LOG=C:\\l.log", SetupAction::Wizard, true, true, "", "C:\\l.log", ""},
        {"/S /LOG=\"C:\\a b\\" HYO ".log\" /D=C:\\Program Files\\" SO " Tools  ", SetupAction::Wizard, true, false,
         "C:\\Program Files\\" SO " Tools", "C:\\a b\\" HYO ".log", ""},
        {"/D=/S", SetupAction::Wizard, false, false, "/S", "", ""},
        {"/S \"/D=C:\\a b\"", SetupAction::Wizard, true, false, "C:\\a b", "", ""},
        {"/SILENT /DESKTOPS", SetupAction::Wizard, false, false, "", "", ""},
        {"/r", SetupAction::UninstallRequest, false, false, "", "", ""},
        {"R", SetupAction::UninstallRequest, false, false, "", "", ""},
        {"/r /S /LOG=x.log", SetupAction::UninstallRequest, true, false, "", "x.log", ""},
        {"/S /R", SetupAction::UninstallRequest, true, false, "", "", ""},
        {"/rx", SetupAction::Wizard, false, false, "", "", ""},
        // The interactive copy's path is the rest of the line, spaces and all.
        {"x C:\\Program Files\\Tools\\SETUP.EXE", SetupAction::UninstallCopy, false, false, "", "",
         "C:\\Program Files\\Tools\\SETUP.EXE"},
        {"x /S /LOG=\"C:\\a b\\l.log\" C:\\T\\S.EXE", SetupAction::UninstallCopy, true, false, "", "C:\\a b\\l.log",
         "C:\\T\\S.EXE"},
        {"x", SetupAction::UninstallCopy, false, false, "", "", ""},
    };
    for (const auto& c : cases) {
        SetupCommand command;
        ASSERT_TRUE(ParseSetupCommand(c.text, &command)) << c.text;
        EXPECT_EQ(command.action, c.action) << c.text;
        EXPECT_EQ(command.silent, c.silent) << c.text;
        EXPECT_EQ(command.desktop, c.desktop) << c.text;
        EXPECT_STREQ(command.destination, c.destination) << c.text;
        EXPECT_STREQ(command.log, c.log) << c.text;
        EXPECT_STREQ(command.path, c.path) << c.text;
    }
    SetupCommand command;
    const std::string tooLong = "/D=C:\\" + std::string(PathSize, 'a');
    for (const char* broken : {"/LOG=\"C:\\unterminated", tooLong.c_str()}) {
        EXPECT_FALSE(ParseSetupCommand(broken, &command)) << broken;
        EXPECT_FALSE(command.silent) << broken;
    }
    // A "/S" that stands alone anywhere makes even a broken line silent.
    for (const char* broken : {"/LOG=\"x /S", "/s /LOG=\"x", "x /S /RESULT=z C:\\A\\SETUP.EXE"}) {
        EXPECT_FALSE(ParseSetupCommand(broken, &command)) << broken;
        EXPECT_TRUE(command.silent) << broken;
    }

    // The copy's command line: exactly "<copy>" x <path> when interactive
    // with nothing to hand on; the handles it inherits, in decimal.
    char line[PathSize * 3];
    ASSERT_TRUE(BuildCopyCommand("C:\\W\\S\\Tools Setup.EXE", "C:\\P F\\Tools Setup.EXE", false, CopyHandles{}, line,
                                 sizeof line));
    EXPECT_STREQ(line, "\"C:\\W\\S\\Tools Setup.EXE\" x C:\\P F\\Tools Setup.EXE");
    ASSERT_TRUE(BuildCopyCommand("C:\\S\\SETUP.EXE", "C:\\P F\\SETUP.EXE", false, CopyHandles{0, 10, 0}, line,
                                 sizeof line));
    EXPECT_STREQ(line, "\"C:\\S\\SETUP.EXE\" x /REQUEST=10 C:\\P F\\SETUP.EXE");
    ASSERT_TRUE(BuildCopyCommand("C:\\S\\SETUP.EXE", "C:\\P F\\SETUP.EXE", true, CopyHandles{4, 4294967295u, 508},
                                 line, sizeof line));
    EXPECT_STREQ(line, "\"C:\\S\\SETUP.EXE\" x /S /LOGHANDLE=4 /REQUEST=4294967295 /RESULT=508 C:\\P F\\SETUP.EXE");
    ASSERT_TRUE(ParseSetupCommand(line + strlen("\"C:\\S\\SETUP.EXE\" "), &command));
    EXPECT_TRUE(command.silent);
    EXPECT_EQ(command.handles.log, 4u);
    EXPECT_EQ(command.handles.request, 4294967295u);
    EXPECT_EQ(command.handles.result, 508u);
    EXPECT_STREQ(command.path, "C:\\P F\\SETUP.EXE");
    for (const char* broken : {"x /REQUEST=4294967296 C:\\P\\S.EXE", "x /RESULT= C:\\P\\S.EXE", "x /LOGHANDLE=1a C:\\S.EXE"})
        EXPECT_FALSE(ParseSetupCommand(broken, &command)) << broken;
    EXPECT_FALSE(BuildCopyCommand("C:\\S\\SETUP.EXE", "C:\\P\\SETUP.EXE", true, CopyHandles{}, line, 20));
}

TEST(Wininit, TheRenameSectionKeepsEveryLineAndMovesToTheEnd)
{
    const std::string old = "[boot]\r\nshell=explorer.exe\r\n[Rename]\r\nNUL=C:\\TEMP\\A.TMP\r\n"
                            "NUL=C:\\TEMP\\B.TMP\r\nC:\\NEW.DLL=C:\\NEW.TMP\r\n[other]\r\ny=2\r\n\x1a";
    char out[4096];
    size_t length = RewriteRenameSection(old.data(), old.size(), "C:\\WINDOWS\\SYSTEM\\SETUP.EXE", true, out, sizeof out);
    EXPECT_EQ(std::string(out, length),
              "[boot]\r\nshell=explorer.exe\r\n[other]\r\ny=2\r\n[Rename]\r\nNUL=C:\\TEMP\\A.TMP\r\n"
              "NUL=C:\\TEMP\\B.TMP\r\nC:\\NEW.DLL=C:\\NEW.TMP\r\nNUL=C:\\WINDOWS\\SYSTEM\\SETUP.EXE\r\n");

    length = RewriteRenameSection("", 0, "C:\\X.EXE", true, out, sizeof out);
    EXPECT_EQ(std::string(out, length), "[Rename]\r\nNUL=C:\\X.EXE\r\n");

    const std::string noNewline = "[rename]\r\nNUL=C:\\A";
    length = RewriteRenameSection(noNewline.data(), noNewline.size(), "C:\\B", true, out, sizeof out);
    EXPECT_EQ(std::string(out, length), "[Rename]\r\nNUL=C:\\A\r\nNUL=C:\\B\r\n");

    // A section that would pass 30,000 bytes is not written at all.
    std::string huge = "[Rename]\r\n";
    while (huge.size() < 30100)
        huge += "NUL=C:\\TEMP\\LONGNAME.TMP\r\n";
    static char big[65536];
    EXPECT_EQ(RewriteRenameSection(huge.data(), huge.size(), "C:\\X", true, big, sizeof big), 0u);
    EXPECT_EQ(RewriteRenameSection(old.data(), old.size(), "C:\\X", true, out, 20), 0u);

    // Taken back: only the lines that delete that very path go.
    length = RewriteRenameSection(old.data(), old.size(), "C:\\TEMP\\A.TMP", false, out, sizeof out);
    EXPECT_EQ(std::string(out, length), "[boot]\r\nshell=explorer.exe\r\n[other]\r\ny=2\r\n[Rename]\r\n"
                                        "NUL=C:\\TEMP\\B.TMP\r\nC:\\NEW.DLL=C:\\NEW.TMP\r\n");
    const std::string twice = "[Rename]\r\nNUL=C:\\A\nNUL=C:\\AB\r\nNUL=C:\\A";
    length = RewriteRenameSection(twice.data(), twice.size(), "C:\\A", false, out, sizeof out);
    EXPECT_EQ(std::string(out, length), "[Rename]\r\nNUL=C:\\AB\r\n");
}

TEST(Wininit, APendingDeletionIsTakenBackAndNothingElse)
{
    using namespace std::string_literals;
    // Deletions of the file in any ASCII case go; a rename onto it, another
    // file's deletion, a longer name, what follows the end and a pair cut
    // short stay.
    std::u16string list = u"\\??\\C:\\P\\SETUP.EXE\0\0"
                          u"\\??\\C:\\T\\new.tmp\0!\\??\\C:\\P\\SETUP.EXE\0"
                          u"\\??\\c:\\p\\setup.exe\0\0"
                          u"\\??\\C:\\P\\SETUP.EXE2\0\0"
                          u"\\??\\C:\\\u30c4\\x\0\0"
                          u"\0\\??\\C:\\P\\SETUP.EXE\0\0"s;
    const std::u16string expected = u"\\??\\C:\\T\\new.tmp\0!\\??\\C:\\P\\SETUP.EXE\0"
                                    u"\\??\\C:\\P\\SETUP.EXE2\0\0"
                                    u"\\??\\C:\\\u30c4\\x\0\0"
                                    u"\0\\??\\C:\\P\\SETUP.EXE\0\0"s;
    EXPECT_EQ(list.substr(0, WithoutPendingDeletion(&list[0], list.size(), u"\\??\\C:\\P\\SETUP.EXE")), expected);
    // Only that deletion: the list is left with its end alone.
    std::u16string last = u"\\??\\C:\\P\\S.EXE\0\0\0"s;
    EXPECT_EQ(WithoutPendingDeletion(&last[0], last.size(), u"\\??\\C:\\p\\s.exe"), 1u);
    std::u16string cut = u"\\??\\C:\\P\\S.EXE"s;
    EXPECT_EQ(WithoutPendingDeletion(&cut[0], cut.size(), u"\\??\\C:\\P\\S.EXE"), cut.size());
}

TEST(ServiceRules, TheSectionTakesOnlyItsListsAndTheServiceItsOwnSid)
{
    EXPECT_STREQ(ServiceAccountName("LocalService"), "NT AUTHORITY\\LocalService");
    EXPECT_STREQ(ServiceAccountName("networkservice"), "NT AUTHORITY\\NetworkService");
    for (const char* account : {"LocalSystem", "", "Administrator", "NT AUTHORITY\\LocalService"})
        EXPECT_EQ(ServiceAccountName(account), nullptr) << account;
    bool valid;
    EXPECT_TRUE(ServiceStartsAutomatically("auto", &valid));
    EXPECT_TRUE(valid);
    EXPECT_FALSE(ServiceStartsAutomatically("Demand", &valid));
    EXPECT_TRUE(valid);
    ServiceStartsAutomatically("boot", &valid);
    EXPECT_FALSE(valid);

    EXPECT_TRUE(IsServiceName("QuorvaneClock"));
    EXPECT_TRUE(IsServiceName(std::string(256, 'a').c_str()));
    for (const std::string& name : {std::string(), std::string(257, 'a'), std::string("a/b"), std::string("a\\b"),
                                   std::string("\x8e\x9e\x8c\x76")})
        EXPECT_FALSE(IsServiceName(name.c_str())) << name;

    EXPECT_TRUE(IsPrivilegeList("SeSystemtimePrivilege,SeChangeNotifyPrivilege"));
    for (const char* list : {"", "SeSystemtimePrivilege,", "Se Privilege", "SystemtimePrivilege", "SeTcbPriv",
                             "SeA\\BPrivilege"})
        EXPECT_FALSE(IsPrivilegeList(list)) << list;

    EXPECT_TRUE(IsServiceKey("SOFTWARE\\veskar\\quorvane"));
    EXPECT_TRUE(IsServiceKey("software\\veskar"));
    for (const char* key : {"SOFTWARE", "SOFTWARE\\", "SOFTWARE\\Microsoft\\Windows", "SYSTEM\\CurrentControlSet\\x",
                            "SOFTWARE\\Classes\\CLSID", "SOFTWARE\\Classes\\Tools.Document", "Software2\\veskar",
                            "SOFTWARE\\Wow6432Node\\veskar", "SOFTWARE\\Policies\\veskar"})
        EXPECT_FALSE(IsServiceKey(key)) << key;

    // Windows' own service SIDs: TrustedInstaller's is documented.
    char sid[80];
    ASSERT_TRUE(ServiceSid("TrustedInstaller", sid, sizeof sid));
    EXPECT_STREQ(sid, "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464");
    ASSERT_TRUE(ServiceSid("trustedinstaller", sid, sizeof sid)); // names compare in upper case
    EXPECT_STREQ(sid, "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464");
    EXPECT_FALSE(ServiceSid("TrustedInstaller", sid, 20));

    // The descriptors, as Windows' SDDL reads them.
    EXPECT_STREQ(ServiceSddl, "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;LCCR;;;IU)");
    EXPECT_STREQ(ServiceKeySddl, "D:PAI(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)");
    char sddl[200];
    ASSERT_TRUE(StatusKeySddl("S-1-5-80-1-2-3-4-5", sddl, sizeof sddl));
    EXPECT_STREQ(sddl, "D:PAI(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)(A;CI;0x2;;;S-1-5-80-1-2-3-4-5)");
}

} // namespace
