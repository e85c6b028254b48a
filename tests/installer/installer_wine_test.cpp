// Parts of installer against Wine's real files and DDE-free helpers.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "folders.h"
#include "restart_delete.h"
#include "script_rules.h"
#include "setup_state.h"
#include "shortcuts.h"
#include "user_start.h"

// The folders that Setup creates with a product folder's protection (Wine
// keeps no security descriptors on files, so the calls are what a test sees).
std::vector<std::string> g_protectedFolders;

bool CreateProductFolder(const char* path)
{
    g_protectedFolders.push_back(path);
    return CreateDirectoryA(path, nullptr) != FALSE;
}

namespace {

std::string TempFolder()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string folder = std::string(temp) + "qvinst-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::string ReadAll(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[4096];
    DWORD read;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read)
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}

void Write(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
}

TEST(DeleteAtRestart, WininitKeepsEveryPendingDeletionAndReplacesTheEndMark)
{
    const std::string folder = TempFolder();
    const std::string ini = folder + "WININIT.INI";
    const std::string victim = folder + "victim.exe";
    Write(victim, "x");
    Write(ini, "[Rename]\r\nNUL=C:\\TEMP\\A.TMP\r\nNUL=C:\\TEMP\\B.TMP\r\n\x1a");
    ASSERT_TRUE(ScheduleDeletionInWininit(victim.c_str(), ini.c_str()));
    char shortPath[MAX_PATH];
    GetShortPathNameA(victim.c_str(), shortPath, sizeof shortPath);
    EXPECT_EQ(ReadAll(ini),
              "[Rename]\r\nNUL=C:\\TEMP\\A.TMP\r\nNUL=C:\\TEMP\\B.TMP\r\nNUL=" + std::string(shortPath) + "\r\n");

    // Without WININIT.INI nothing is created.
    DeleteFileA(ini.c_str());
    EXPECT_FALSE(ScheduleDeletionInWininit(victim.c_str(), ini.c_str()));
    EXPECT_EQ(GetFileAttributesA(ini.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(victim.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(Folders, CreateFolderPathStopsAtAFileAndLeavesThePathAsItWas)
{
    const std::string folder = TempFolder();
    g_setup.messageOwner = nullptr;
    char path[PathSize];
    lstrcpyA(path, (folder + "A\\B\\").c_str());
    ASSERT_TRUE(CreateFolderPath(path));
    EXPECT_STREQ(path, (folder + "A\\B\\").c_str());
    EXPECT_NE(GetFileAttributesA((folder + "A\\B").c_str()), INVALID_FILE_ATTRIBUTES);
    char root[] = "C:\\";
    EXPECT_TRUE(CreateFolderLevel(root));

    // A read-only file is deleted after its mark is cleared; a missing one is no failure.
    const std::string file = folder + "A\\ro.txt";
    Write(file, "r");
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteFileReported(file.c_str()));
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(DeleteFileReported(file.c_str()));
    RemoveDirectoryA((folder + "A\\B").c_str());
    RemoveDirectoryA((folder + "A").c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(Folders, EveryFolderMadeForTheProductIsProtectedAsProgramFiles)
{
    const std::string folder = TempFolder();
    char path[PathSize];
    lstrcpyA(path, (folder + "P\\Q\\").c_str());
    g_protectedFolders.clear();
    ASSERT_TRUE(CreateFolderPath(path, true));
    // Each folder it made, and only those: one that existed keeps its own.
    EXPECT_EQ(g_protectedFolders, (std::vector<std::string>{folder + "P", folder + "P\\Q"}));
    g_protectedFolders.clear();
    ASSERT_TRUE(CreateFolderPath(path, true));
    lstrcpyA(path, (folder + "P\\Q\\R\\").c_str());
    ASSERT_TRUE(CreateFolderPath(path, false));
    EXPECT_TRUE(g_protectedFolders.empty());

    // The descriptor: protected (nothing from the parent), SYSTEM and
    // Administrators full control, Users read and execute, all inherited by
    // files and folders below.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(ProductFolderSddl, SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl);
    ASSERT_EQ(dacl->AceCount, 3);
    const struct {
        const char* sid;
        DWORD mask;
    } expected[] = {{"S-1-5-18", FILE_ALL_ACCESS}, {"S-1-5-32-544", FILE_ALL_ACCESS},
                    {"S-1-5-32-545", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};
    for (DWORD i = 0; i < 3; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(ace->Mask, expected[i].mask) << i;
        char* sid = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidA(&ace->SidStart, &sid));
        EXPECT_STREQ(sid, expected[i].sid);
        LocalFree(sid);
    }
    LocalFree(descriptor);
    RemoveDirectoryA((folder + "P\\Q\\R").c_str());
    RemoveDirectoryA((folder + "P\\Q").c_str());
    RemoveDirectoryA((folder + "P").c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(Folders, LinksOnTheWayAndWhereAServiceMayGo)
{
    // T:\qv-links\link is a host symbolic link to a folder (a reparse point
    // to Wine), made by the test session.
    char link[PathSize];
    EXPECT_TRUE(FindLinkOnTheWay("T:\\qv-links\\link\\Soft\\", link));
    EXPECT_STREQ(link, "T:\\qv-links\\link");
    EXPECT_TRUE(FindLinkOnTheWay("T:\\qv-links\\link\\", link));
    EXPECT_FALSE(FindLinkOnTheWay("T:\\qv-links\\Soft\\Deeper\\", link));
    EXPECT_FALSE(FindLinkOnTheWay("T:\\", link));

    char shortName[MAX_PATH];
    ASSERT_NE(GetShortPathNameA("C:\\Program Files", shortName, sizeof shortName), 0u);
    for (const std::string& below : {std::string("C:\\Program Files\\Tools\\"), std::string(shortName) + "\\Tools",
                                     std::string("c:\\program files\\a\\b\\")})
        EXPECT_TRUE(IsBelowProgramFiles(below.c_str())) << below;
    for (const char* other : {"C:\\Program Files\\", "C:\\Program Files\\..\\Tools\\", "C:\\Program Files2\\x\\",
                              "T:\\Program Files\\Tools\\", "C:\\Tools\\"})
        EXPECT_FALSE(IsBelowProgramFiles(other)) << other;

    // An earlier installation's folder is taken over with everything in it,
    // but never through a link: that would carry the change elsewhere.
    const std::string earlier = "T:\\qv-earlier-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(earlier.c_str(), nullptr);
    CreateDirectoryA((earlier + "\\sub").c_str(), nullptr);
    Write(earlier + "\\sub\\a.txt", "a");
    EXPECT_TRUE(ProtectExistingFolder(earlier.c_str()));
    ASSERT_TRUE(MoveFileA("T:\\qv-links", (earlier + "\\sub\\links").c_str()));
    EXPECT_FALSE(ProtectExistingFolder(earlier.c_str()));
    EXPECT_TRUE(MoveFileA((earlier + "\\sub\\links").c_str(), "T:\\qv-links"));
    DeleteFileA((earlier + "\\sub\\a.txt").c_str());
    RemoveDirectoryA((earlier + "\\sub").c_str());
    RemoveDirectoryA(earlier.c_str());
}

TEST(UserStart, OnlyWhatTheShellReallyStartedCountsAsStarted)
{
    // A window brings up the desktop, whose Explorer does the starting.
    HWND window = CreateWindowA("STATIC", "qv", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    EXPECT_TRUE(OpenThroughShell((std::string(system) + "\\hostname.exe").c_str(), system));
    // The shell reports this failure as S_FALSE, which is no success.
    EXPECT_FALSE(OpenThroughShell("C:\\qv-no-such-program.exe", system));
    DestroyWindow(window);
}

TEST(Progman, AddItemCommandsUseTheShortPathAndKeepTheArguments)
{
    const std::string folder = TempFolder();
    CreateDirectoryA((folder + "Long Folder Name").c_str(), nullptr);
    const std::string program = folder + "Long Folder Name\\SETUP.EXE";
    Write(program, "x");
    char shortPath[MAX_PATH];
    GetShortPathNameA(program.c_str(), shortPath, sizeof shortPath);
    char command[PathSize];
    ASSERT_TRUE(BuildAddItemCommand((program + ",/r").c_str(), "SETUP.EXEの削除", command, sizeof command));
    EXPECT_EQ(std::string(command), "[AddItem(\"" + std::string(shortPath) + " /r\",\"SETUP.EXEの削除\")]");
    ASSERT_TRUE(BuildAddItemCommand(program.c_str(), "Tools", command, sizeof command));
    EXPECT_EQ(std::string(command), "[AddItem(\"" + std::string(shortPath) + "\",\"Tools\")]");
    // A command that would not fit its 260-byte buffer is not sent at all.
    EXPECT_FALSE(BuildAddItemCommand(program.c_str(), std::string(250, 'c').c_str(), command, sizeof command));
    DeleteFileA(program.c_str());
    RemoveDirectoryA((folder + "Long Folder Name").c_str());
    RemoveDirectoryA(folder.c_str());
}

// What Setup hands to 64-bit Windows (the deletion of its uninstall copy
// at restart) must name the place where its System folder's files really
// are. Only a 32-bit program on 64-bit Windows is redirected to SysWOW64.
TEST(Wow64, OnlyA32BitProgramOn64BitWindowsNamesSysWow64ForItsSystemFolder)
{
    char system[MAX_PATH], systemDir[PathSize], wow64Dir[PathSize];
    GetSystemDirectoryA(system, sizeof system);
    SystemFolders(systemDir, wow64Dir);
    EXPECT_STREQ(systemDir, system);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (!wow64) {
        EXPECT_STREQ(wow64Dir, "");
        GTEST_SKIP() << "the SysWOW64 half needs a 32-bit program on 64-bit Windows (the i686 build in a 64-bit "
                        "prefix, on a machine that runs 32-bit programs)";
    }
    const std::string file = std::string(system) + "\\qv-wow64-" + std::to_string(GetCurrentProcessId()) + ".txt";
    Write(file, "x");
    char real[PathSize];
    ASSERT_TRUE(RealSystemPath(file.c_str(), systemDir, wow64Dir, real, sizeof real));
    EXPECT_NE(std::string(real), file);
    // Seen without redirection, as a 64-bit process sees it: there, and not
    // in the 64-bit System32.
    void* redirection = nullptr;
    ASSERT_TRUE(Wow64DisableWow64FsRedirection(&redirection));
    const bool there = GetFileAttributesA(real) != INVALID_FILE_ATTRIBUTES;
    const bool inSystem32 = GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES;
    Wow64RevertWow64FsRedirection(redirection);
    EXPECT_TRUE(there) << real;
    EXPECT_FALSE(inSystem32) << file;
    DeleteFileA(file.c_str());
}

} // namespace
