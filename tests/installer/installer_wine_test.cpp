// Parts of installer against Wine's real files and DDE-free helpers.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "copy_phase.h"
#include "descriptor_rules.h"
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

// What the folders' security reads as (SDDL by path); any other folder reads
// as Program Files' own. Wine keeps no security of files.
std::map<std::string, std::string> g_folderSddl;

DescriptorRead ReadFolderDescriptor(const char* path, unsigned char* descriptor, unsigned long size,
                                    unsigned long* length)
{
    const auto found = g_folderSddl.find(path);
    const std::string sddl =
        found != g_folderSddl.end() ? found->second : "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    PSECURITY_DESCRIPTOR built = nullptr;
    ULONG builtSize = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &built, &builtSize)
        || builtSize > size)
        return DescriptorRead::Failed;
    memcpy(descriptor, built, builtSize);
    *length = builtSize;
    LocalFree(built);
    return DescriptorRead::Read;
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
    ASSERT_TRUE(SetDeletionInWininit(victim.c_str(), ini.c_str(), true));
    char shortPath[MAX_PATH];
    GetShortPathNameA(victim.c_str(), shortPath, sizeof shortPath);
    EXPECT_EQ(ReadAll(ini),
              "[Rename]\r\nNUL=C:\\TEMP\\A.TMP\r\nNUL=C:\\TEMP\\B.TMP\r\nNUL=" + std::string(shortPath) + "\r\n");
    // Installed again: the deletion is taken back, the others stay.
    ASSERT_TRUE(SetDeletionInWininit(victim.c_str(), ini.c_str(), false));
    EXPECT_EQ(ReadAll(ini), "[Rename]\r\nNUL=C:\\TEMP\\A.TMP\r\nNUL=C:\\TEMP\\B.TMP\r\n");

    // Without WININIT.INI nothing is created.
    DeleteFileA(ini.c_str());
    EXPECT_FALSE(SetDeletionInWininit(victim.c_str(), ini.c_str(), true));
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
    // The copy makes the destination itself with that protection, too.
    lstrcpyA(g_setup.destination, (folder + "P\\Made\\").c_str());
    g_setup.installCount = 0;
    g_setup.copyStep = 0;
    g_setup.destinationExisted = false;
    EXPECT_TRUE(RunCopyStep(nullptr));
    EXPECT_FALSE(g_setup.destinationRefused);
    EXPECT_EQ(g_protectedFolders, std::vector<std::string>{folder + "P\\Made"});
    RemoveDirectoryA((folder + "P\\Made").c_str());

    // The descriptor: protected (nothing from the parent), SYSTEM and
    // Administrators full control, Users and both groups of application
    // packages read and execute, all inherited by files and folders below.
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
    ASSERT_EQ(dacl->AceCount, 5);
    const struct {
        const char* sid;
        DWORD mask;
    } expected[] = {{"S-1-5-18", FILE_ALL_ACCESS}, {"S-1-5-32-544", FILE_ALL_ACCESS},
                    {"S-1-5-32-545", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
                    {"S-1-15-2-1", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
                    {"S-1-15-2-2", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};
    for (DWORD i = 0; i < 5; ++i) {
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
    // Whoever starts Setup sets its environment: it names no Program Files.
    SetEnvironmentVariableA("ProgramFiles", "T:\\");
    SetEnvironmentVariableA("ProgramW6432", "T:\\");
    for (const char* other : {"C:\\Program Files\\", "C:\\Program Files\\..\\Tools\\", "C:\\Program Files2\\x\\",
                              "T:\\Program Files\\Tools\\", "C:\\Tools\\", "T:\\Tools\\"})
        EXPECT_FALSE(IsBelowProgramFiles(other)) << other;

    // An entry's sub-folder that exists as a link is never copied into.
    const std::string source = TempFolder() + "a.txt";
    Write(source, "a");
    DeleteFileA("T:\\qv-links\\link\\a.txt"); // left by an earlier run
    g_setup.silent = true; // the message goes to no log
    lstrcpyA(g_setup.entry.source, source.c_str());
    lstrcpyA(g_setup.entry.target, "T:\\qv-links\\link\\a.txt");
    g_setup.entry.relativePart = strlen("T:\\qv-links\\");
    EXPECT_FALSE(CopyEntry());
    g_setup.silent = false;
    EXPECT_EQ(GetFileAttributesA("T:\\qv-links\\link\\a.txt"), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(source.c_str());
    RemoveDirectoryA(TempFolder().c_str());

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

TEST(Folders, OnlyFoldersThatOnlyAdministratorsCanChangeAreTrusted)
{
    const std::string ti = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    // What a folder made directly under C:\ inherits from the drive root,
    // even when an administrator made it: every authenticated user may
    // change, and so delete and rename it.
    const std::string belowRoot = "O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)"
                                  "(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)";
    const std::string usersModify = "O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BU)";
    const std::string programFiles = "O:" + ti + "D:PAI(A;;FA;;;" + ti + ")(A;CIIO;GA;;;" + ti + ")(A;;0x1301bf;;;SY)"
        "(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)"
        "(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;S-1-15-2-1)(A;OICIIO;GXGR;;;S-1-15-2-1)(A;;0x1200a9;;;S-1-15-2-2)"
        "(A;OICIIO;GXGR;;;S-1-15-2-2)";
    const std::string product = std::string("O:BA") + ProductFolderSddl;
    const std::string driveRoot = "O:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
                                  "(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)";
    const struct {
        std::string sddl;
        bool onTheWay, destination, parent;
    } cases[] = {
        /* 0 */ {belowRoot, false, false, true},
        /* 1 */ {usersModify, false, false, true},
        /* 2 */ {programFiles, true, true, true},
        /* 3 */ {product, true, true, true},
        /* 4 */ {driveRoot, true, false, true}, // users may make folders in it
        /* 5 */ {"O:S-1-5-21-1-2-3-1001" + product.substr(4), false, false, true}, // a user's own
        /* 6 */ {"O:BAD:PAI(A;OICI;FA;;;BA)(A;;0x1201bf;;;BU)", true, false, true}, // write, no delete
        /* 7 */ {"O:BAD:PAI(A;OICI;FA;;;BA)(A;;0x40;;;BU)", true, false, false}, // delete what it holds
        /* 8 */ {"O:BAD:PAI(A;OICI;FA;;;BA)(A;;GA;;;WD)", false, false, false},
        /* 9 */ {"O:BAD:PAI(A;OICI;FA;;;BA)(D;;FA;;;BU)", true, true, true}, // a denial grants nothing
        /* 10 */ {"O:BA", false, false, false}, // no DACL (FAT)
    };
    for (size_t i = 0; i < sizeof cases / sizeof *cases; ++i) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ULONG size = 0;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(cases[i].sddl.c_str(), SDDL_REVISION_1,
                                                                         &descriptor, &size)) << i;
        const auto* bytes = static_cast<const unsigned char*>(descriptor);
        EXPECT_EQ(KeepsOthersOut(bytes, size, FolderUse::OnTheWay), cases[i].onTheWay) << i;
        EXPECT_EQ(KeepsOthersOut(bytes, size, FolderUse::Destination), cases[i].destination) << i;
        EXPECT_EQ(KeepsOthersOut(bytes, size, FolderUse::Parent), cases[i].parent) << i;
        // A DACL that is there but NULL lets everyone in.
        if (i == 3) {
            std::vector<unsigned char> nullDacl(bytes, bytes + size);
            ASSERT_TRUE(nullDacl[2] & SE_DACL_PRESENT);
            std::fill(nullDacl.begin() + 16, nullDacl.begin() + 20, 0);
            EXPECT_FALSE(KeepsOthersOut(nullDacl.data(), size, FolderUse::Parent));
        }
        // Cut short anywhere: read within its bytes only; no header, no trust.
        for (ULONG cut = 0; cut < size; ++cut) {
            const bool trusted = KeepsOthersOut(bytes, cut, FolderUse::OnTheWay);
            EXPECT_FALSE(trusted && cut < 20) << i;
        }
        LocalFree(descriptor);
    }

    // On the way: the first folder another account could rename, in its
    // canonical spelling; the destination itself is not looked at, but its
    // parent is.
    const std::string top = "T:\\qv-trust-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(top.c_str(), nullptr);
    CreateDirectoryA((top + "\\A").c_str(), nullptr);
    CreateDirectoryA((top + "\\A\\Dest").c_str(), nullptr);
    char folder[PathSize];
    g_folderSddl.clear();
    EXPECT_FALSE(FindRenameableFolder((top + "\\A\\Dest\\").c_str(), folder));
    EXPECT_STREQ(folder, "");
    g_folderSddl[top] = belowRoot;
    EXPECT_TRUE(FindRenameableFolder((top + "\\A\\Dest\\").c_str(), folder));
    EXPECT_EQ(std::string(folder), top);
    g_folderSddl[top] = product;
    g_folderSddl[top + "\\A"] = usersModify;
    EXPECT_TRUE(FindRenameableFolder((top + "\\none\\..\\A\\New\\Deeper\\").c_str(), folder));
    EXPECT_EQ(std::string(folder), top + "\\A");
    g_folderSddl[top + "\\A"] = product;
    g_folderSddl[top + "\\A\\Dest"] = usersModify; // the destination: asked about, not refused here
    EXPECT_FALSE(FindRenameableFolder((top + "\\A\\Dest\\").c_str(), folder));
    g_folderSddl[top + "\\A"] = "O:BAD:PAI(A;OICI;FA;;;BA)(A;;0x40;;;BU)";
    EXPECT_TRUE(FindRenameableFolder((top + "\\A\\Dest\\").c_str(), folder));
    EXPECT_EQ(std::string(folder), top + "\\A\\Dest");
    g_folderSddl["T:\\"] = "O:BAD:(A;OICI;FA;;;WD)"; // an old drive open to everyone
    EXPECT_TRUE(FindRenameableFolder((top + "\\New\\").c_str(), folder));
    EXPECT_EQ(std::string(folder), top);
    EXPECT_FALSE(KeepsOthersOutOfFolder((top + "\\A\\Dest").c_str(), FolderUse::Destination));
    EXPECT_TRUE(KeepsOthersOutOfFolder(top.c_str(), FolderUse::Destination));
    g_folderSddl.clear();
    RemoveDirectoryA((top + "\\A\\Dest").c_str());
    RemoveDirectoryA((top + "\\A").c_str());
    RemoveDirectoryA(top.c_str());
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
