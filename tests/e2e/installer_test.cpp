// installer.exe under Wine, driven the way a user drives it: a product with a
// Japanese name installed from a test script onto a drive of the test's own,
// then removed again with "/r".
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <sddl.h>
#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gui_driver.h"

namespace {

const char Title[] = "テスト表示ソフト"; // 表 ends in the "\" code
// A name with a space: "Tools.exe" of the System folder must never start.
const char SetupExe[] = "Tools Setup.EXE";
const char SetupScript[] = "Tools Setup.INF";
const char AppDefaults[] = "Software\\Wine\\AppDefaults\\Tools Setup.EXE";
const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char ShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
enum { Prompt = 1000, Destination = 1001, StartMenu = 1006, DesktopBox = 1005, CopyStatus = 1008,
       RemovalNote = 1012, UninstallStatus = 1010, FinishButton = 12325 };

std::string ShellFolder(const char* name)
{
    char folder[MAX_PATH] = {};
    DWORD size = sizeof folder;
    RegGetValueA(HKEY_CURRENT_USER, ShellFolders, name, RRF_RT_REG_SZ, nullptr, folder, &size);
    return folder;
}

// Program Files as a program of this build sees it: "Program Files (x86)"
// for a 32-bit program on 64-bit Windows.
std::string ProgramFiles()
{
    char folder[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

// Where a file that this program names in its System folder really lies,
// as a 64-bit process (Windows at restart) must name it: SysWOW64 for a
// 32-bit program on 64-bit Windows.
std::string RealSystemFile(const std::string& inSystemFolder)
{
    BOOL wow64 = FALSE;
    char system[MAX_PATH], wow64Folder[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64 || !GetSystemWow64DirectoryA(wow64Folder, MAX_PATH)
        || lstrcmpiA(inSystemFolder.substr(0, strlen(system)).c_str(), system) != 0)
        return inSystemFolder;
    return wow64Folder + inSystemFolder.substr(strlen(system));
}

DWORD Number(const std::string& key, const char* name)
{
    DWORD number = 0, size = sizeof number;
    RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &number, &size);
    return number;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteFileText(const std::string& path, const char* text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    WriteFile(file, text, DWORD(strlen(text)), &written, nullptr);
    CloseHandle(file);
}

std::string ReadFileText(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    char buffer[4096];
    DWORD read;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read)
        text.append(buffer, read);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return text;
}

// Deletes a folder and everything in it.
void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// The user's SID as text: registry links name their target by the
// kernel's path, \Registry\User\<SID>\... for HKEY_CURRENT_USER.
std::wstring UserSid()
{
    HANDLE token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buffer[256];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    wchar_t* text = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    std::wstring sid = text ? text : L"";
    LocalFree(text);
    return sid;
}

struct Link {
    std::string target, arguments, workingDirectory;
};

bool ReadLink(const std::string& path, Link* link)
{
    IShellLinkA* shellLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&shellLink))))
        return false;
    IPersistFile* file = nullptr;
    shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    bool loaded = SUCCEEDED(file->Load(wide, STGM_READ));
    char text[MAX_PATH] = {};
    shellLink->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH);
    link->target = text;
    shellLink->GetArguments(text, sizeof text);
    link->arguments = text;
    shellLink->GetWorkingDirectory(text, sizeof text);
    link->workingDirectory = text;
    file->Release();
    shellLink->Release();
    return loaded;
}

// What installer_probe reads as the security of a folder (no "\" at its
// end); any other folder reads as Program Files' own.
const char FolderSecurityKey[] = "Software\\QvTestFolderSecurity";
// A folder made directly under a drive root inherits from it that every
// authenticated user may change, and so rename, it.
const char BelowDriveRoot[] = "O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)"
                              "(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)";
const char UsersModify[] = "O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BU)";
const char OthersMayChange[] = " は管理者以外のユーザーも変更できます。管理者だけが変更できるように保護をかけ直してインストールしますか?";

void SetFolderSecurity(const std::string& folder, const char* sddl)
{
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, FolderSecurityKey, folder.c_str(), REG_SZ, sddl, DWORD(strlen(sddl) + 1));
}

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        static int serial;
        source_ = "C:\\qvsetup-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) + "\\";
        CreateDirectoryA(source_.c_str(), nullptr);
        CreateDirectoryA((source_ + "sub").c_str(), nullptr);
        CreateDirectoryA((source_ + "sub\\data").c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(WindowsPath(INSTALLER_EXE).c_str(), (source_ + SetupExe).c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(WindowsPath(FAKE_PRODUCT_EXE).c_str(), (source_ + "tools.exe").c_str(), FALSE));
        WriteFileText(source_ + "readme.txt", "read me");
        WriteFileText(source_ + "sub\\data\\x.dat", "data");
        WriteFileText(source_ + "ro.txt", "read-only at the source");
        SetFileAttributesA((source_ + "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        WriteFileText(source_ + "qvtestlib.dll", "a shared library");
        destination_ = std::string("T:\\") + Title + "\\";
        Cleanup();
        Script("Install", "Title", Title);
        Script("Install", "Folder", Title);
        Script("Install", "1", "tools.exe");
        Script("Install", "2", "readme.txt");
        Script("Install", "3", "sub\\data\\x.dat");
        Script("Install", "4", "ro.txt");
        Script("Install", "5", ",old.dll");
        Script("Install", "6", "qvtestlib.dll,s!qvtestlib.dll");
        Script("Install", "7", "readme.txt,w!qvtest-readme.txt");
        Script("Install", "Open", "tools.exe");
        Script("Group", "1", "ツール,tools.exe,/s");
        Script("Group", "2", "読んでね,readme.txt");
        Script("Reg", "1", "HKEY_CURRENT_USER\\Software\\QvTest\\Options");
        Script("Reg", "2", "hkey_current_user\\Software\\QvTest");
        Script("Reg", "3", "HKEY_CURRENT_USER\\");
        Script("Reg", "4", "HKEY_CURRENT_USER\\Software\\");
    }

    void TearDown() override
    {
        for (PROCESS_INFORMATION& process : processes_) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process.hProcess, 99);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        Cleanup();
        RemoveTree(source_.substr(0, source_.size() - 1));
        CoUninitialize();
    }

    void Cleanup()
    {
        RemoveTree(destination_.substr(0, destination_.size() - 1));
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(UninstallKey) + Title).c_str());
        // A registry link is deleted as itself, never through what it names.
        HKEY link;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QvTest\\Linked\\Link", REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS,
                          &link) == ERROR_SUCCESS) {
            using DeleteKey = LONG(WINAPI*)(HANDLE);
            if (auto deleteKey = reinterpret_cast<DeleteKey>(
                    reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey"))))
                deleteKey(link);
            RegCloseKey(link);
        }
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QvTest");
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, FolderSecurityKey);
        for (const char* classKey : {".qvtest", ".qvother", "QvTest.Document"})
            RegDeleteTreeA(HKEY_CLASSES_ROOT, classKey);
        RemoveTree(ShellFolder("Programs") + "\\" + Title);
        DeleteFileA((ShellFolder("Startup") + "\\" + Title + ".lnk").c_str());
        DeleteFileA((ShellFolder("Desktop") + "\\" + Title + ".lnk").c_str());
        DeleteFileA((ShellFolder("Programs") + "\\" + Title + ".lnk").c_str());
        char system[MAX_PATH];
        GetSystemDirectoryA(system, sizeof system);
        DeleteFileA((std::string(system) + "\\qvtestlib.dll").c_str());
        DeleteFileA((std::string(system) + "\\Tools.exe").c_str());
        for (const char* copy : {"\\~1-", "\\~2-"})
            DeleteFileA((std::string(system) + copy + SetupExe).c_str());
        DeleteFileA((std::string(system) + "\\started.txt").c_str());
        char windows[MAX_PATH];
        GetWindowsDirectoryA(windows, sizeof windows);
        DeleteFileA((std::string(windows) + "\\qvtest-readme.txt").c_str());
    }

    void Script(const char* section, const char* key, const char* value)
    {
        WritePrivateProfileStringA(section, key, value, (source_ + SetupScript).c_str());
    }

    DWORD Start(const std::string& program, const std::string& arguments = "")
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
        EXPECT_TRUE(CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &process));
        processes_.push_back(process);
        return process.dwProcessId;
    }

    HWND StartWizard()
    {
        pid_ = Start(source_ + SetupExe);
        HWND sheet = nullptr;
        EXPECT_TRUE(WaitFor([&] { return (sheet = FindWizard(pid_)) != nullptr && FindDescendant(sheet, Destination); }));
        return sheet;
    }

    // Sets the destination and presses Next; returns the text of the
    // message box that answers, or "" when none does.
    std::string TryDestination(HWND sheet, const std::string& destination, DWORD waitMs = 1500)
    {
        SendMessageA(FindDescendant(sheet, Destination), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(destination.c_str()));
        PressWizardButton(sheet, PSBTN_NEXT);
        std::string text;
        HWND box = nullptr;
        if (!WaitFor([&] { return (box = FindMessageBox(pid_, sheet, &text)) != nullptr; }, waitMs))
            return "";
        lastBox_ = box;
        return text;
    }

    void Answer(int button)
    {
        PostMessageA(lastBox_, WM_COMMAND, button, 0);
        HWND box = lastBox_;
        WaitFor([&] { return !IsWindow(box); });
    }

    // Dismisses the message boxes that `pid` shows until `done` holds,
    // collecting their texts.
    template <typename Done> bool AnswerMessagesUntil(DWORD pid, Done done, std::vector<std::string>* texts,
                                                      DWORD timeoutMs = 30000)
    {
        return WaitFor([&] {
            std::string text;
            if (HWND box = FindMessageBox(pid, nullptr, &text)) {
                texts->push_back(text);
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                WaitFor([&] { return !IsWindow(box); }, 3000);
            }
            return done();
        }, timeoutMs);
    }

    // The exit code of a process the test started, once it has ended.
    DWORD ExitCode(DWORD pid, DWORD timeoutMs = 60000)
    {
        DWORD code = STILL_ACTIVE;
        for (PROCESS_INFORMATION& process : processes_) {
            if (process.dwProcessId == pid && WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
                GetExitCodeProcess(process.hProcess, &code);
        }
        return code;
    }

    // Runs a command line as it is (the program quoted in it) and returns
    // its exit code.
    DWORD Run(std::string commandLine)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        EXPECT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process)) << commandLine;
        processes_.push_back(process);
        return ExitCode(process.dwProcessId);
    }

    bool WaitForExit(DWORD pid, DWORD timeoutMs = 15000)
    {
        for (PROCESS_INFORMATION& process : processes_) {
            if (process.dwProcessId == pid)
                return WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
        }
        return false;
    }

    std::string source_, destination_;
    std::vector<PROCESS_INFORMATION> processes_;
    DWORD pid_ = 0;
    HWND lastBox_ = nullptr;
};

TEST_F(InstallerTest, InstallsAJapaneseProductAndRemovesItAgain)
{
    // An earlier version's file that a deletion entry removes.
    CreateDirectoryA(destination_.c_str(), nullptr);
    WriteFileText(destination_ + "old.dll", "old");
    // Wine keeps a stream as a file of that name: the download mark that a
    // copied file brings along must go.
    WriteFileText(destination_ + "tools.exe:Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n");
    HKEY options;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QvTest\\Options\\Deeper", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &options, nullptr);
    RegCloseKey(options);
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QvTest\\Keep", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &options,
                    nullptr);
    RegCloseKey(options);
    // What Windows and other programs rely on is never deleted: a key below
    // Software\Microsoft, and a registry link below the product's own key
    // to a key of someone else's. A product's own file type may go.
    Script("Reg", "5", "HKEY_CURRENT_USER\\Software\\Microsoft\\QvTest");
    Script("Reg", "6", "HKEY_CLASSES_ROOT\\.qvtest");
    // A path through the link reaches nothing; the link itself goes.
    Script("Reg", "7", "HKEY_CURRENT_USER\\Software\\QvTest\\Linked\\Link\\Deeper");
    Script("Reg", "8", "HKEY_CURRENT_USER\\Software\\QvTest\\Linked");
    for (const char* key : {"Software\\Microsoft\\QvTest", "Software\\QvTest\\Keep\\Target\\Deeper"}) {
        RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &options, nullptr);
        RegCloseKey(options);
    }
    // A file type that opens with the product's own ProgID (both listed)
    // goes with it; one that opens with another program's stays, and only
    // the product's ProgID leaves its list of programs.
    Script("Reg", "9", "HKEY_CLASSES_ROOT\\.qvother");
    Script("Reg", "10", "HKEY_CLASSES_ROOT\\QvTest.Document");
    RegSetKeyValueA(HKEY_CLASSES_ROOT, ".qvtest", nullptr, REG_SZ, "QvTest.Document", 16);
    RegSetKeyValueA(HKEY_CLASSES_ROOT, ".qvtest\\OpenWithProgids", "QvTest.Document", REG_SZ, "", 1);
    RegSetKeyValueA(HKEY_CLASSES_ROOT, "QvTest.Document\\shell\\open\\command", nullptr, REG_SZ, "x", 2);
    RegSetKeyValueA(HKEY_CLASSES_ROOT, ".qvother", nullptr, REG_SZ, "Other.Document", 15);
    for (const char* progId : {"Other.Document", "QvTest.Document"})
        RegSetKeyValueA(HKEY_CLASSES_ROOT, ".qvother\\OpenWithProgids", progId, REG_SZ, "", 1);
    HKEY registryLink;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QvTest\\Linked\\Link", 0, nullptr,
                              REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS, nullptr, &registryLink, nullptr), ERROR_SUCCESS);
    const std::wstring linkTarget = L"\\Registry\\User\\" + UserSid() + L"\\Software\\QvTest\\Keep\\Target";
    RegSetValueExW(registryLink, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(linkTarget.data()),
                   DWORD(linkTarget.size() * sizeof(wchar_t)));
    RegCloseKey(registryLink);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QvTest\\Linked\\Link\\Deeper", 0, KEY_READ, &registryLink),
              ERROR_SUCCESS); // the link leads there
    RegCloseKey(registryLink);

    HWND sheet = StartWizard();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(ControlText(FindDescendant(sheet, Prompt)), std::string(Title) + "のインストール先を指定してください");
    EXPECT_TRUE(WaitFor([&] { return ControlText(sheet) == std::string(Title) + "のインストール"; }, 3000))
        << ControlText(sheet);
    EXPECT_EQ(ControlText(FindDescendant(sheet, Destination)), ProgramFiles() + "\\" + Title + "\\");

    // The folder was there, and others may change it: taken over on Yes.
    SetFolderSecurity(destination_.substr(0, destination_.size() - 1), UsersModify);
    EXPECT_EQ(TryDestination(sheet, std::string("T:\\") + Title), std::string("T:\\") + Title + OthersMayChange);
    EXPECT_EQ(ControlText(lastBox_), Title);
    Answer(IDYES);
    HWND startMenu = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (startMenu = FindDescendant(sheet, StartMenu)) != nullptr; }));
    EXPECT_TRUE(IsChecked(GetParent(startMenu), StartMenu));
    EXPECT_FALSE(IsChecked(GetParent(startMenu), DesktopBox));
    SendMessageA(FindDescendant(sheet, DesktopBox), BM_CLICK, 0, 0);
    PressWizardButton(sheet, PSBTN_NEXT);

    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(GetDlgItem(sheet, FinishButton)) && IsWindowVisible(GetDlgItem(sheet, FinishButton)); }, 30000));
    EXPECT_EQ(ControlText(FindDescendant(sheet, CopyStatus)), "インストールが完了しました。「完了」を押すと起動します。");
    EXPECT_NE(FindDescendant(sheet, RemovalNote), nullptr);

    // Files, folders, the read-only mark gone, the deletion entry done.
    for (const char* file : {SetupExe, SetupScript, "tools.exe", "readme.txt", "sub\\data\\x.dat", "ro.txt"})
        EXPECT_TRUE(Exists(destination_ + file)) << file;
    EXPECT_EQ(GetFileAttributesA((destination_ + "ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(Exists(destination_ + "old.dll"));
    EXPECT_FALSE(Exists(destination_ + "tools.exe:Zone.Identifier"));
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    const std::string systemLibrary = std::string(system) + "\\qvtestlib.dll";
    EXPECT_TRUE(Exists(systemLibrary));
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    const std::string windowsFile = std::string(windows) + "\\qvtest-readme.txt";
    EXPECT_TRUE(Exists(windowsFile));

    // The Start-menu folder and its links, and the desktop link.
    const std::string group = ShellFolder("Programs") + "\\" + Title + "\\";
    Link link;
    ASSERT_TRUE(ReadLink(group + "ツール.lnk", &link));
    EXPECT_EQ(link.target, destination_ + "tools.exe");
    EXPECT_EQ(link.arguments, "/s");
    EXPECT_EQ(link.workingDirectory, destination_);
    ASSERT_TRUE(ReadLink(group + "読んでね.lnk", &link));
    EXPECT_EQ(link.target, destination_ + "readme.txt");
    ASSERT_TRUE(ReadLink(ShellFolder("Desktop") + "\\" + Title + ".lnk", &link));
    EXPECT_EQ(link.target, destination_ + "tools.exe");

    // The entry in the list of installed programs, its command quoted.
    char value[MAX_PATH] = {};
    DWORD size = sizeof value;
    const std::string entry = std::string(UninstallKey) + Title;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, entry.c_str(), "UninstallString", RRF_RT_REG_SZ, nullptr, value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(value), "\"" + destination_ + SetupExe + "\" /r");
    size = sizeof value;
    RegGetValueA(HKEY_LOCAL_MACHINE, entry.c_str(), "QuietUninstallString", RRF_RT_REG_SZ, nullptr, value, &size);
    EXPECT_EQ(std::string(value), "\"" + destination_ + SetupExe + "\" /r /S");
    size = sizeof value;
    RegGetValueA(HKEY_LOCAL_MACHINE, entry.c_str(), "DisplayName", RRF_RT_REG_SZ, nullptr, value, &size);
    EXPECT_STREQ(value, Title);
    size = sizeof value;
    RegGetValueA(HKEY_LOCAL_MACHINE, entry.c_str(), "DisplayIcon", RRF_RT_REG_SZ, nullptr, value, &size);
    EXPECT_EQ(std::string(value), destination_ + "tools.exe");
    // Every copied file counts, in KiB rounded up; no Change or Repair.
    unsigned long long bytes = 0;
    for (const std::string& file : {destination_ + SetupExe, destination_ + SetupScript, destination_ + "tools.exe",
                                    destination_ + "readme.txt", destination_ + "sub\\data\\x.dat",
                                    destination_ + "ro.txt", systemLibrary, windowsFile}) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data);
        bytes += data.nFileSizeLow;
    }
    EXPECT_EQ(Number(entry, "EstimatedSize"), (bytes + 1023) / 1024);
    EXPECT_EQ(Number(entry, "NoModify"), 1u);
    DWORD made = 2;
    size = sizeof made;
    EXPECT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, entry.c_str(), "FolderMadeBySetup", RRF_RT_REG_DWORD, nullptr, &made,
                           &size), ERROR_SUCCESS);
    EXPECT_EQ(made, 0u); // the folder was there
    EXPECT_EQ(Number(entry, "NoRepair"), 1u);
    size = sizeof value;
    EXPECT_NE(RegGetValueA(HKEY_LOCAL_MACHINE, entry.c_str(), "Publisher", RRF_RT_REG_SZ, nullptr, value, &size),
              ERROR_SUCCESS); // the script names none

    // Finish has the shell start the product in its folder, then open
    // "Open": not as children of the elevated wizard.
    PressWizardButton(sheet, PSBTN_FINISH);
    ASSERT_TRUE(WaitForExit(pid_));
    EXPECT_TRUE(WaitFor([&] { return ReadFileText(destination_ + "started.txt") == "started \r\nstarted \r\n"; }))
        << ReadFileText(destination_ + "started.txt");
    EXPECT_TRUE(WaitFor([&] { return !ReadFileText(destination_ + "parent.txt").empty(); }));
    EXPECT_NE(ReadFileText(destination_ + "parent.txt"), std::to_string(pid_));
    DeleteFileA((destination_ + "parent.txt").c_str());

    // The user's own file, and a help index the help viewer left.
    CreateDirectoryA((destination_ + "user").c_str(), nullptr);
    WriteFileText(destination_ + "user\\notes.txt", "mine");
    WriteFileText(destination_ + "TOOLS.GID", "index");
    WriteFileText(group + "mine.txt", "the user's own");
    // A symbolic link among the user's files, to a folder outside where a
    // help index of someone else's lies: never followed.
    WriteFileText("T:\\qv-outside\\OTHER.GID", "not ours");
    ASSERT_TRUE(MoveFileA("T:\\qv-links", (destination_ + "user\\links").c_str()));
    DeleteFileA((destination_ + "started.txt").c_str());
    // A program of the short name in the System folder: an unquoted command
    // line would start it instead of the uninstall copy.
    ASSERT_TRUE(CopyFileA(WindowsPath(FAKE_PRODUCT_EXE).c_str(), (std::string(system) + "\\Tools.exe").c_str(), FALSE));

    // "/r": the confirmation, then the copy in the System folder does the work.
    const DWORD request = Start(destination_ + SetupExe, "/r");
    std::string text;
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = FindMessageBox(request, nullptr, &text)) != nullptr; }));
    EXPECT_EQ(text, std::string(Title) + "を削除します。");
    EXPECT_EQ(ControlText(box), Title);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitForExit(request));

    const std::string copy = std::string(system) + "\\~1-" + SetupExe;
    EXPECT_TRUE(Exists(copy));
    HWND window = nullptr;
    DWORD copyPid = 0;
    ASSERT_TRUE(WaitFor([&] { return (window = FindWindowA("#32770", (std::string(Title) + "の削除").c_str())) != nullptr; }));
    GetWindowThreadProcessId(window, &copyPid);
    // The copy's messages: the bad "Reg" values and the folder that still
    // holds the user's file.
    std::vector<std::string> messages;
    ASSERT_TRUE(AnswerMessagesUntil(copyPid, [&] { return IsWindowEnabled(GetDlgItem(window, IDCANCEL)) != FALSE; },
                                    &messages));
    // The folder was there before Setup: the removal leaves it, with what
    // the user keeps in it, and that is success.
    EXPECT_EQ(messages, std::vector<std::string>(4, "Regセクションがおかしいです。"));
    EXPECT_EQ(ControlText(GetDlgItem(window, UninstallStatus)), std::string(Title) + "は正常に削除されました。");

    HKEY key;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QvTest\\Options", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QvTest\\Keep", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QvTest\\Keep\\Target\\Deeper", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    // The link went as itself, and with it the product's key.
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QvTest\\Linked", REG_OPTION_OPEN_LINK, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\QvTest", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\QvTest");
    EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".qvtest", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, "QvTest.Document", 0, KEY_READ, &key), ERROR_SUCCESS);
    char other[32] = {};
    DWORD otherSize = sizeof other;
    EXPECT_EQ(RegGetValueA(HKEY_CLASSES_ROOT, ".qvother", nullptr, RRF_RT_REG_SZ, nullptr, other, &otherSize),
              ERROR_SUCCESS);
    EXPECT_STREQ(other, "Other.Document");
    EXPECT_EQ(RegGetValueA(HKEY_CLASSES_ROOT, ".qvother\\OpenWithProgids", "Other.Document", RRF_RT_REG_SZ, nullptr,
                           nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_NE(RegGetValueA(HKEY_CLASSES_ROOT, ".qvother\\OpenWithProgids", "QvTest.Document", RRF_RT_REG_SZ, nullptr,
                           nullptr, nullptr), ERROR_SUCCESS);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ".qvother");
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, entry.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    for (const char* file : {SetupExe, SetupScript, "tools.exe", "readme.txt", "sub\\data\\x.dat", "ro.txt"})
        EXPECT_FALSE(Exists(destination_ + file)) << file;
    EXPECT_FALSE(Exists(destination_ + "sub"));
    EXPECT_TRUE(Exists(destination_ + "user\\notes.txt"));
    // A help index is the product's only beside a help file of its own.
    EXPECT_TRUE(Exists(destination_ + "TOOLS.GID"));
    EXPECT_TRUE(Exists(destination_));
    EXPECT_TRUE(Exists("T:\\qv-outside\\OTHER.GID"));
    EXPECT_TRUE(MoveFileA((destination_ + "user\\links").c_str(), "T:\\qv-links"));
    EXPECT_TRUE(Exists(systemLibrary));
    EXPECT_FALSE(Exists(windowsFile));
    EXPECT_FALSE(Exists(std::string(system) + "\\started.txt"));
    // Only the links the script names: the user's file and its folder stay.
    EXPECT_FALSE(Exists(group + "ツール.lnk"));
    EXPECT_FALSE(Exists(group + "読んでね.lnk"));
    EXPECT_TRUE(Exists(group + "mine.txt"));
    EXPECT_FALSE(Exists(ShellFolder("Desktop") + "\\" + Title + ".lnk"));

    // Closing the window schedules the copy's own deletion at restart.
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    HANDLE copyProcess = OpenProcess(SYNCHRONIZE, FALSE, copyPid);
    EXPECT_EQ(WaitForSingleObject(copyProcess, 10000), WAIT_OBJECT_0);
    CloseHandle(copyProcess);
    char pending[4096] = {};
    size = sizeof pending;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                           "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, pending, &size),
              ERROR_SUCCESS);
    bool listed = false;
    for (const char* p = pending; *p; p += strlen(p) + 1)
        listed = listed || lstrcmpiA(p, ("\\??\\" + RealSystemFile(copy)).c_str()) == 0;
    EXPECT_TRUE(listed);
    EXPECT_TRUE(Exists(copy));

    // A restart of Windows removes it.
    const DWORD boot = Start(std::string(system) + "\\wineboot.exe", "-r");
    ASSERT_TRUE(WaitForExit(boot, 60000));
    EXPECT_TRUE(WaitFor([&] { return !Exists(copy); }));
    DeleteFileA(systemLibrary.c_str());
}

} // namespace

namespace {

TEST_F(InstallerTest, RefusesDestinationsItCannotUse)
{
    WriteFileText("T:\\blocker", "a file where a folder should go");
    HWND sheet = StartWizard();
    ASSERT_NE(sheet, nullptr);
    const std::string root = "ルートディレクトリにはインストールできません。";
    const std::string noDrive = "「C:\\Soft」のように、ドライブ名も含めた正しいパス名を指定してください。";
    const std::string linked = " はジャンクションまたはシンボリックリンクのため、インストール先にできません。";
    const struct {
        const char* destination;
        std::string message;
    } cases[] = {
        {"C:", root}, {"T:\\", root}, {"\\", root}, {"", root}, {"T:\\.\\", root}, {"T:\\x\\..\\", root},
        {"Soft", noDrive}, {"\\\\server\\share\\Soft", noDrive}, {"T:\\qv::$INDEX_ALLOCATION\\Soft", noDrive},
        {"T:\\blocker\\Soft", "T:\\blocker - 同じ名前のファイルが既に存在するのでフォルダが作成できません。"},
        // A host symbolic link to a folder, which Wine shows as a reparse
        // point: as the destination or on the way to it.
        {"T:\\qv-links\\link", "T:\\qv-links\\link" + linked},
        {"T:\\qv-links\\link\\Soft\\", "T:\\qv-links\\link" + linked},
        // A folder on the way that other users may rename.
        {"T:\\qv-open\\Soft", "T:\\qv-open は管理者以外のユーザーが名前を変えられるフォルダです。Program Files など、管理者だけが変更できるフォルダの中を指定してください。"},
    };
    CreateDirectoryA("T:\\qv-open", nullptr);
    SetFolderSecurity("T:\\qv-open", BelowDriveRoot);
    // No folder of Windows' or of the user's, by any spelling.
    const std::string shared = "Windowsのフォルダや共用のフォルダにはインストールできません。ソフト専用のフォルダを指定してください。";
    char windows[MAX_PATH], profile[MAX_PATH], shortName[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    GetEnvironmentVariableA("USERPROFILE", profile, sizeof profile);
    ASSERT_NE(GetShortPathNameA("C:\\Program Files", shortName, sizeof shortName), 0u);
    ASSERT_STRNE(shortName, "C:\\Program Files");
    for (const std::string& reserved : {std::string(windows), std::string(windows) + "\\" + Title, std::string("c:\\program files\\"),
                                        std::string("C:\\Program Files\\Common Files"), std::string(shortName),
                                        std::string("C:\\Program Files\\..\\windows\\system32\\Tools"),
                                        std::string(profile), ShellFolder("Desktop"), std::string(profile) + "\\Documents"}) {
        EXPECT_EQ(TryDestination(sheet, reserved), shared) << reserved;
        Answer(IDOK);
        EXPECT_EQ(ControlText(FindDescendant(sheet, Destination)), reserved);
    }
    for (const auto& c : cases) {
        EXPECT_EQ(TryDestination(sheet, c.destination), c.message) << c.destination;
        Answer(IDOK);
        // Still on the first page, the text as typed.
        EXPECT_EQ(ControlText(FindDescendant(sheet, Destination)), c.destination);
    }
    DeleteFileA("T:\\blocker");
    EXPECT_FALSE(Exists("T:\\qv-open\\Soft"));
    RemoveDirectoryA("T:\\qv-open");
    // An existing folder that others may change: asked; No stays.
    CreateDirectoryA("T:\\qv-users", nullptr);
    SetFolderSecurity("T:\\qv-users", UsersModify);
    EXPECT_EQ(TryDestination(sheet, "T:\\qv-users\\"), std::string("T:\\qv-users") + OthersMayChange);
    EXPECT_EQ(ControlText(lastBox_), Title);
    Answer(IDNO);
    EXPECT_EQ(ControlText(FindDescendant(sheet, Destination)), "T:\\qv-users\\");

    // A small drive: the question shows the free megabytes; No stays.
    if (GetDriveTypeA("S:\\") != DRIVE_NO_ROOT_DIR) {
        ULARGE_INTEGER available, total, free;
        ASSERT_TRUE(GetDiskFreeSpaceExA("S:\\", &available, &total, &free));
        const std::string question = TryDestination(sheet, "S:\\Small");
        EXPECT_EQ(question, "指定されたドライブの残り容量が " + std::to_string(free.QuadPart / 1048576)
                                + "メガバイトしかありません。かまわずにインストールしますか？");
        EXPECT_EQ(ControlText(lastBox_), Title);
        Answer(IDNO);
        EXPECT_NE(FindDescendant(sheet, Destination), nullptr);
        EXPECT_FALSE(Exists("S:\\Small")); // the trial folder is gone again
    }
    EXPECT_FALSE(Exists("T:\\qv-outside\\Soft"));
    PressWizardButton(sheet, PSBTN_CANCEL);
    EXPECT_TRUE(WaitForExit(pid_));
    // Silent: never taken over, 1603, nothing in it.
    const std::string log = source_ + "setup.log";
    EXPECT_EQ(Run("\"" + source_ + SetupExe + "\" /S /LOG=\"" + log + "\" /D=T:\\qv-users"), 1603u);
    EXPECT_NE(ReadFileText(log).find(std::string("T:\\qv-users") + OthersMayChange), std::string::npos);
    EXPECT_FALSE(Exists(std::string("T:\\qv-users\\") + SetupExe));
    // A stream's name after the drive opens a folder of another name on NTFS.
    EXPECT_EQ(Run("\"" + source_ + SetupExe + "\" /S /D=T:\\qv-users::$INDEX_ALLOCATION\\Soft"), 1603u);
    EXPECT_FALSE(Exists("T:\\qv-users\\Soft"));
    EXPECT_FALSE(Exists("T:\\qv-users::$INDEX_ALLOCATION"));
    RemoveDirectoryA("T:\\qv-users");

    // Someone else makes the folder between the check and the copy (and
    // plants a program in it): the copy refuses it, installs nothing and
    // starts nothing; a product with a service gets none. A service's
    // product goes below Program Files only.
    const std::string serviceDestination = std::string("C:\\Program Files\\") + Title + "\\";
    for (const bool withService : {false, true}) {
        const std::string destination = withService ? serviceDestination : destination_;
        if (withService) {
            Script("Service", "Name", "QvTestService");
            Script("Service", "Program", "tools.exe");
            Script("Service", "Account", "LocalService");
            Script("Service", "Start", "auto");
            Script("Service", "Privileges", "SeSystemtimePrivilege");
            Script("Service", "Key", "SOFTWARE\\QvTest\\Service");
        }
        sheet = StartWizard();
        ASSERT_NE(sheet, nullptr);
        if (withService) {
            EXPECT_EQ(TryDestination(sheet, destination_),
                      "サービスを含むソフトは、Program Files フォルダの中にのみインストールできます。");
            Answer(IDOK);
        }
        EXPECT_EQ(TryDestination(sheet, destination), "");
        ASSERT_TRUE(WaitFor([&] { return FindDescendant(sheet, StartMenu) != nullptr; }));
        EXPECT_FALSE(Exists(destination)); // the trial left nothing
        ASSERT_TRUE(CreateDirectoryA(destination.c_str(), nullptr));
        WriteFileText(destination + "tools.exe", "planted");
        PressWizardButton(sheet, PSBTN_NEXT);
        std::vector<std::string> messages;
        ASSERT_TRUE(AnswerMessagesUntil(pid_, [&] { return IsWindowVisible(GetDlgItem(sheet, FinishButton)) != FALSE; },
                                        &messages));
        EXPECT_EQ(messages, std::vector<std::string>{destination.substr(0, destination.size() - 1)
                                                     + " は確認の後に別のプログラムによって作成されたため、インストールを中止しました。"});
        EXPECT_EQ(ControlText(FindDescendant(sheet, CopyStatus)),
                  "インストール中にエラーが発生しました。イントール先を変更するなどしてもう一度インストールしなおすことをお勧めします。");
        PressWizardButton(sheet, PSBTN_FINISH);
        EXPECT_EQ(ExitCode(pid_), 1603u);
        EXPECT_EQ(ReadFileText(destination + "tools.exe"), "planted");
        EXPECT_FALSE(Exists(destination + SetupExe));
        EXPECT_FALSE(Exists(destination + "started.txt"));
        EXPECT_FALSE(Exists(ShellFolder("Programs") + "\\" + Title));
        HKEY key;
        EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(UninstallKey) + Title).c_str(), 0, KEY_READ, &key),
                  ERROR_SUCCESS);
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service = OpenServiceA(manager, "QvTestService", DELETE);
        EXPECT_EQ(service ? ERROR_SUCCESS : GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
        if (service) {
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
        RemoveTree(destination.substr(0, destination.size() - 1));
    }
    WritePrivateProfileStringA("Service", nullptr, nullptr, (source_ + SetupScript).c_str());
}

TEST_F(InstallerTest, RefusesAScriptThatReachesOutsideItsPlaces)
{
    // A file beside the destination that a careless script would delete.
    const std::string victim = "T:\\victim.txt";
    WriteFileText(victim, "must survive");
    const struct {
        const char* section;
        const char* key;
        const char* value;
        const char* original;
    } cases[] = {
        {"Install", "5", ",..\\victim.txt", ",old.dll"},
        {"Install", "5", "readme.txt,sub/../../victim.txt", ",old.dll"},
        {"Install", "5", "readme.txt,w!..\\..\\victim.txt", ",old.dll"},
        {"Install", "5", "readme.txt,T:\\victim.txt", ",old.dll"},
        {"Install", "5", "readme.txt,\\victim.txt", ",old.dll"},
        {"Install", "5", "..\\victim.txt", ",old.dll"},
        {"Install", "Title", "テスト/表示", Title},
        {"Install", "Folder", "..\\..\\Windows", Title},
        {"Group", "1", "..\\..\\ツール,tools.exe", "ツール,tools.exe,/s"},
    };
    for (const auto& c : cases) {
        Script(c.section, c.key, c.value);
        pid_ = Start(source_ + SetupExe);
        std::string text;
        EXPECT_TRUE(WaitFor([&] { return FindMessageBox(pid_, nullptr, &text) != nullptr; })) << c.value;
        EXPECT_EQ(text, "設定ファイルが壊れているか、または見つかりません。") << c.value;
        EXPECT_EQ(FindWizard(pid_), nullptr);
        PostMessageA(FindMessageBox(pid_, nullptr, nullptr), WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitForExit(pid_)) << c.value;
        Script(c.section, c.key, c.original);
    }
    // "x" without a folder removes nothing (it once took SetupExe's own),
    // nor with a drive root however spelled, where a script lies.
    ASSERT_TRUE(CopyFileA((source_ + SetupScript).c_str(), (std::string("T:\\") + SetupScript).c_str(), FALSE));
    WriteFileText("T:\\readme.txt", "must survive");
    for (const char* command : {"x", "/x", "x tools.exe", "x T:\\.\\Tools Setup.EXE", "x T:\\x\\..\\Tools Setup.EXE",
                                "x T:\\x::$INDEX_ALLOCATION\\Tools Setup.EXE"}) {
        const DWORD copy = Start(source_ + SetupExe, command);
        std::string text;
        EXPECT_TRUE(WaitFor([&] { return FindMessageBox(copy, nullptr, &text) != nullptr; })) << command;
        EXPECT_EQ(text, "設定ファイルが壊れているか、または見つかりません。");
        PostMessageA(FindMessageBox(copy, nullptr, nullptr), WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitForExit(copy));
    }
    EXPECT_EQ(ReadFileText("T:\\readme.txt"), "must survive");
    DeleteFileA("T:\\readme.txt");
    DeleteFileA((std::string("T:\\") + SetupScript).c_str());
    EXPECT_TRUE(Exists(victim));
    EXPECT_TRUE(Exists(source_ + "tools.exe"));
    EXPECT_TRUE(Exists(source_ + SetupScript));
    EXPECT_FALSE(Exists(destination_));
    DeleteFileA(victim.c_str());
}

TEST_F(InstallerTest, ReportsATargetInUseAndEndsWithTheErrorText)
{
    CreateDirectoryA(destination_.c_str(), nullptr);
    WriteFileText(destination_ + "tools.exe", "held open");
    HANDLE held = CreateFileA((destination_ + "tools.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // An entry whose target would not fit its buffer is reported, never cut.
    const std::string tooLong(259 - destination_.size() + 1, 'n');
    Script("Install", "6", tooLong.c_str());
    Script("Install", "7", nullptr);
    HWND sheet = StartWizard();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(TryDestination(sheet, destination_), "");
    ASSERT_TRUE(WaitFor([&] { return FindDescendant(sheet, StartMenu) != nullptr; }));
    PressWizardButton(sheet, PSBTN_NEXT);
    std::vector<std::string> messages;
    ASSERT_TRUE(AnswerMessagesUntil(pid_, [&] { return IsWindowVisible(GetDlgItem(sheet, FinishButton)) != FALSE; },
                                    &messages));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], destination_ + "tools.exe は他で使用中のため上書きできません。");
    EXPECT_EQ(messages[1], tooLong + " のコピーに失敗しました。");
    EXPECT_EQ(ControlText(FindDescendant(sheet, CopyStatus)),
              "インストール中にエラーが発生しました。イントール先を変更するなどしてもう一度インストールしなおすことをお勧めします。");
    EXPECT_TRUE(Exists(destination_ + "readme.txt")); // the others were copied
    PressWizardButton(sheet, PSBTN_CANCEL);
    EXPECT_TRUE(WaitForExit(pid_));

    // Uninstalling while the product is still in use: the message, and
    // the product, the Uninstall entry and the links stay for another try.
    HKEY created;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QvTest\\Options", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created,
                    nullptr);
    RegCloseKey(created);
    const DWORD request = Start(destination_ + SetupExe, "/r");
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = FindMessageBox(request, nullptr, nullptr)) != nullptr; }));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    HWND window = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (window = FindWindowA("#32770", (std::string(Title) + "の削除").c_str())) != nullptr; }));
    DWORD copyPid = 0;
    GetWindowThreadProcessId(window, &copyPid);
    messages.clear();
    ASSERT_TRUE(AnswerMessagesUntil(copyPid, [&] { return IsWindowEnabled(GetDlgItem(window, IDCANCEL)) != FALSE; },
                                    &messages));
    CloseHandle(held);
    // Nothing went: not the other files, not the script's keys.
    const std::string target = destination_ + "tools.exe";
    EXPECT_EQ(messages, std::vector<std::string>{target + " の削除に失敗しました。" + Title
                                                 + "を終了して、もう一度アンインストールをやり直してください。"});
    EXPECT_TRUE(Exists(destination_ + "readme.txt"));
    EXPECT_TRUE(Exists(destination_ + "sub\\data\\x.dat"));
    HKEY options;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QvTest\\Options", 0, KEY_READ, &options), ERROR_SUCCESS);
    RegCloseKey(options);
    EXPECT_EQ(ControlText(GetDlgItem(window, UninstallStatus)),
              destination_ + " にはまだファイルが残っています。後で削除してください。");
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    HKEY key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(UninstallKey) + Title).c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(Exists(ShellFolder("Programs") + "\\" + Title + "\\ツール.lnk"));
}

TEST_F(InstallerTest, AResidentProductSkipsTheShortcutPageAndStartsWithWindows)
{
    Script("Install", "TSR", "1");
    Script("Install", "6", nullptr);
    Script("Install", "Open", nullptr);
    Script("Group", nullptr, nullptr);
    // The shell folders as a user's profile may hold them: one to expand,
    // and one that is no absolute path (nothing of that place is made).
    const std::string startup = ShellFolder("Startup"), programs = ShellFolder("Programs");
    char profile[MAX_PATH];
    GetEnvironmentVariableA("USERPROFILE", profile, sizeof profile);
    ASSERT_EQ(startup.compare(0, strlen(profile), profile), 0) << startup;
    const std::string expandable = "%USERPROFILE%" + startup.substr(strlen(profile));
    RegSetKeyValueA(HKEY_CURRENT_USER, ShellFolders, "Startup", REG_EXPAND_SZ, expandable.c_str(), DWORD(expandable.size() + 1));
    RegSetKeyValueA(HKEY_CURRENT_USER, ShellFolders, "Programs", REG_SZ, "Programs", 9);
    HWND sheet = StartWizard();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(TryDestination(sheet, destination_), "");
    const bool finished = WaitFor([&] { return IsWindowVisible(GetDlgItem(sheet, FinishButton)) != FALSE; }, 30000);
    RegSetKeyValueA(HKEY_CURRENT_USER, ShellFolders, "Startup", REG_SZ, startup.c_str(), DWORD(startup.size() + 1));
    RegSetKeyValueA(HKEY_CURRENT_USER, ShellFolders, "Programs", REG_SZ, programs.c_str(), DWORD(programs.size() + 1));
    ASSERT_TRUE(finished);
    EXPECT_EQ(FindDescendant(sheet, StartMenu), nullptr); // never shown
    Link link;
    ASSERT_TRUE(ReadLink(startup + "\\" + Title + ".lnk", &link));
    EXPECT_EQ(link.target, destination_ + "tools.exe");
    EXPECT_FALSE(Exists(programs + "\\" + Title + ".lnk"));
    EXPECT_FALSE(Exists(source_ + "Programs"));
    EXPECT_FALSE(Exists(destination_ + "Programs"));
    PressWizardButton(sheet, PSBTN_CANCEL);
    EXPECT_TRUE(WaitForExit(pid_));
    // The copy phase had ended: Cancel only closes, and the run succeeded.
    EXPECT_EQ(ExitCode(pid_), 0u);
}

TEST_F(InstallerTest, BeforeWindows4ItUsesProgramManager)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, AppDefaults, 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("nt351"), 6);
    RegCloseKey(key);
    Script("Install", "6", nullptr);
    Script("Install", "Open", nullptr);
    Script("Group", nullptr, nullptr);
    HWND sheet = StartWizard();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(TryDestination(sheet, destination_), "");
    HWND startMenu = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (startMenu = FindDescendant(sheet, StartMenu)) != nullptr; }));
    EXPECT_FALSE(IsEnabled(GetParent(startMenu), DesktopBox));
    PressWizardButton(sheet, PSBTN_NEXT);
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(GetDlgItem(sheet, FinishButton)) != FALSE; }, 30000));
    EXPECT_EQ(FindDescendant(sheet, RemovalNote), nullptr); // stays hidden
    // Program Manager made the group with the product's item.
    const std::string group = ShellFolder("Programs") + "\\" + Title;
    EXPECT_TRUE(WaitFor([&] { return Exists(group + "\\" + Title + ".lnk"); }));
    // The group window Program Manager opens, which may come after the
    // link: left open, its Explorer would outlive the test.
    HWND groupWindow = nullptr;
    EXPECT_TRUE(WaitFor([&] { return (groupWindow = FindWindowA("ExplorerWClass", Title)) != nullptr; }));
    PostMessageA(groupWindow, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(groupWindow); }));
    // The old version is a compatibility setting; the token is elevated
    // all the same (as always under Wine): Finish still has the shell start
    // the product, never the elevated Setup itself.
    PressWizardButton(sheet, PSBTN_FINISH);
    EXPECT_TRUE(WaitForExit(pid_));
    EXPECT_TRUE(WaitFor([&] { return !ReadFileText(destination_ + "parent.txt").empty(); }));
    EXPECT_EQ(ReadFileText(destination_ + "started.txt"), "started \r\n");
    EXPECT_NE(ReadFileText(destination_ + "parent.txt"), std::to_string(pid_));
    RegDeleteTreeA(HKEY_CURRENT_USER, AppDefaults);
}

} // namespace

namespace {

// Not a test: shows the installer's windows one after the other for
// scripts/screenshots.sh, which takes a picture of each as it is announced.
class InstallerPoser : public InstallerTest {
protected:
    void Pose(const char* name, HWND window) { PoseForScreenshot(name, window); }
};

TEST_F(InstallerPoser, DISABLED_ForScreenshots)
{
    if (!getenv("QV_SHOT_DIR"))
        GTEST_SKIP();
    Script("Reg", "2", nullptr);
    HWND sheet = StartWizard();
    ASSERT_NE(sheet, nullptr);
    Sleep(500);
    Pose("installer-destination", sheet);

    PostMessageA(FindDescendant(sheet, 1002), BM_CLICK, 0, 0);
    HWND browse = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (browse = FindWindowA("#32770", "参照")) != nullptr; }));
    Sleep(500);
    Pose("installer-browse", browse);
    PostMessageA(browse, WM_COMMAND, IDCANCEL, 0);
    WaitFor([&] { return !IsWindow(browse); });

    EXPECT_NE(TryDestination(sheet, "C:\\Program Files"), "");
    Sleep(300);
    Pose("installer-reserved", lastBox_);
    Answer(IDOK);

    CreateDirectoryA("T:\\qv-users", nullptr);
    SetFolderSecurity("T:\\qv-users", UsersModify);
    EXPECT_NE(TryDestination(sheet, "T:\\qv-users\\"), "");
    Sleep(300);
    Pose("installer-takeover", lastBox_);
    Answer(IDNO);
    RemoveDirectoryA("T:\\qv-users");

    EXPECT_EQ(TryDestination(sheet, destination_), "");
    ASSERT_TRUE(WaitFor([&] { return FindDescendant(sheet, StartMenu) != nullptr; }));
    Sleep(300);
    Pose("installer-shortcuts", sheet);
    PressWizardButton(sheet, PSBTN_NEXT);
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(GetDlgItem(sheet, FinishButton)) != FALSE; }, 30000));
    Sleep(300);
    Pose("installer-done", sheet);
    PressWizardButton(sheet, PSBTN_CANCEL);
    ASSERT_TRUE(WaitForExit(pid_));

    WriteFileText(destination_ + "notes.txt", "mine");
    const DWORD request = Start(destination_ + SetupExe, "/r");
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = FindMessageBox(request, nullptr, nullptr)) != nullptr; }));
    Sleep(300);
    Pose("uninstall-confirm", box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    HWND window = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (window = FindWindowA("#32770", (std::string(Title) + "の削除").c_str())) != nullptr; }));
    DWORD copyPid = 0;
    GetWindowThreadProcessId(window, &copyPid);
    std::vector<std::string> messages;
    AnswerMessagesUntil(copyPid, [&] { return IsWindowEnabled(GetDlgItem(window, IDCANCEL)) != FALSE; }, &messages);
    Sleep(300);
    Pose("uninstall-done", window);
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
}

} // namespace

namespace {

// The clock service as Setup left it: its configuration, or why it has none.
struct InstalledService {
    DWORD error = 0;
    std::string account, path, description;
    DWORD startType = 0, state = 0;
};

InstalledService QueryClockService()
{
    InstalledService found;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, "QuorvaneClock", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)
                                : nullptr;
    if (!service) {
        found.error = GetLastError();
    } else {
        std::vector<char> buffer(8192);
        DWORD size;
        QUERY_SERVICE_CONFIGA* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        if (QueryServiceConfigA(service, config, DWORD(buffer.size()), &size)) {
            found.account = config->lpServiceStartName;
            found.path = config->lpBinaryPathName;
            found.startType = config->dwStartType;
        }
        SERVICE_DESCRIPTIONA* description = reinterpret_cast<SERVICE_DESCRIPTIONA*>(buffer.data());
        if (QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, reinterpret_cast<LPBYTE>(buffer.data()),
                                 DWORD(buffer.size()), &size)
            && description->lpDescription)
            found.description = description->lpDescription;
        SERVICE_STATUS status = {};
        QueryServiceStatus(service, &status);
        found.state = status.dwCurrentState;
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
    return found;
}

// Inside the network namespace of the test script, which reaches nobody.
bool InPrivateNetwork()
{
    const char* flag = getenv("QV_PRIVATE_NETWORK");
    return flag && strcmp(flag, "1") == 0;
}

bool KeyExists(const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST_F(InstallerTest, InstallsAndRemovesQuorvaneFromItsDistribution)
{
    const std::string dist = "C:\\qvdist-" + std::to_string(GetCurrentProcessId()) + "\\";
    const std::string installed = ProgramFiles() + "\\Quorvane\\";
    const char* const files[] = {"SETUP.EXE", "SETUP.INF", "quorvane.exe", "qvclock.exe", "voice.dat", "readme.txt"};
    const char MachineKey[] = "SOFTWARE\\veskar\\quorvane";
    const char EventSource[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QuorvaneClock";
    RemoveTree(installed.substr(0, installed.size() - 1));
    CreateDirectoryA(dist.c_str(), nullptr);
    for (const char* file : files)
        ASSERT_TRUE(CopyFileA((WindowsPath(QV_DIST_DIR) + "\\" + file).c_str(), (dist + file).c_str(), FALSE)) << file;
    // SETUP.EXE with the folder security that Wine does not keep.
    ASSERT_TRUE(CopyFileA(WindowsPath(INSTALLER_EXE).c_str(), (dist + "SETUP.EXE").c_str(), FALSE));
    // quorvane will start at Finish: never towards its public default server.
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\veskar\\quorvane");
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\veskar\\quorvane", "Server", REG_SZ, "127.0.0.1", 10);
    // Nor the clock service, outside a network of the test's own (inside it,
    // the default server's name is simply not found).
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, MachineKey);
    if (!InPrivateNetwork())
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, MachineKey, "Server", REG_SZ, "127.0.0.1", 10);

    // Someone else's service of that name is never touched; nor is an
    // existing folder the service's program could be planted in first.
    const std::string log = dist + "setup.log";
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE other = CreateServiceA(manager, "QuorvaneClock", "other", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "C:\\other\\other.exe", nullptr,
                                     nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(Run("\"" + dist + "SETUP.EXE\" /S /LOG=\"" + log + "\" /D=" + installed), 1603u);
    EXPECT_NE(ReadFileText(log).find("設定ファイルが壊れているか、または見つかりません。"), std::string::npos);
    EXPECT_EQ(QueryClockService().path, "C:\\other\\other.exe");
    DeleteService(other);
    CloseServiceHandle(other);
    CloseServiceHandle(manager);
    CreateDirectoryA("C:\\Program Files\\Existing", nullptr);
    EXPECT_EQ(Run("\"" + dist + "SETUP.EXE\" /S /LOG=\"" + log + "\" /D=C:\\Program Files\\Existing"), 1603u);
    EXPECT_NE(ReadFileText(log).find("既にあるフォルダにはインストールできません。"), std::string::npos);
    RemoveDirectoryA("C:\\Program Files\\Existing");
    // Only below Program Files, where nobody else can make the folder.
    EXPECT_EQ(Run("\"" + dist + "SETUP.EXE\" /S /LOG=\"" + log + "\" /D=T:\\Quorvane"), 1603u);
    EXPECT_NE(ReadFileText(log).find("Program Files フォルダの中にのみインストールできます。"), std::string::npos);
    EXPECT_FALSE(Exists("T:\\Quorvane"));
    ASSERT_EQ(QueryClockService().error, DWORD(ERROR_SERVICE_DOES_NOT_EXIST));

    pid_ = Start(dist + "SETUP.EXE");
    HWND sheet = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (sheet = FindWizard(pid_)) != nullptr && FindDescendant(sheet, Destination); }));
    EXPECT_EQ(TryDestination(sheet, installed), "");
    // Resident: straight to the copy page.
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(GetDlgItem(sheet, FinishButton)) != FALSE; }, 30000));
    EXPECT_EQ(ControlText(FindDescendant(sheet, CopyStatus)), "インストールが完了しました。「完了」を押すと起動します。");
    for (const char* file : files)
        EXPECT_TRUE(Exists(installed + file)) << file;
    // The clock service, as the script describes it, runs and asks by itself.
    InstalledService service = QueryClockService();
    EXPECT_EQ(service.account, "NT AUTHORITY\\LocalService");
    EXPECT_EQ(service.path, "\"" + installed + "qvclock.exe\"");
    EXPECT_EQ(service.startType, DWORD(SERVICE_AUTO_START));
    EXPECT_EQ(service.description.compare(0, 20, "パソコンの時計を NTP"), 0) << service.description;
    EXPECT_EQ(service.state, DWORD(SERVICE_RUNNING));
    char source[MAX_PATH] = {};
    DWORD sourceSize = sizeof source;
    RegGetValueA(HKEY_LOCAL_MACHINE, EventSource, "EventMessageFile", RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, source,
                 &sourceSize);
    EXPECT_EQ(std::string(source), installed + "qvclock.exe");
    EXPECT_TRUE(WaitFor([&] { return KeyExists("SOFTWARE\\veskar\\quorvane\\Status") &&
                                     RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\veskar\\quorvane\\Status",
                                                  "LastAttemptTime", RRF_RT_REG_QWORD, nullptr, nullptr, nullptr)
                                         == ERROR_SUCCESS; }, 20000));
    // What the list of installed programs shows.
    const std::string entry = std::string(UninstallKey) + "Quorvane";
    for (const auto& expected : {std::make_pair("Publisher", std::string("veskar")),
                                 std::make_pair("DisplayVersion", std::string("1.4")),
                                 std::make_pair("DisplayIcon", installed + "quorvane.exe")}) {
        char value[MAX_PATH] = {};
        DWORD size = sizeof value;
        RegGetValueA(HKEY_LOCAL_MACHINE, entry.c_str(), expected.first, RRF_RT_REG_SZ, nullptr, value, &size);
        EXPECT_EQ(value, expected.second) << expected.first;
    }
    Link link;
    ASSERT_TRUE(ReadLink(ShellFolder("Startup") + "\\Quorvane.lnk", &link));
    EXPECT_EQ(link.target, installed + "quorvane.exe");

    PressWizardButton(sheet, PSBTN_FINISH);
    ASSERT_TRUE(WaitForExit(pid_));
    HWND quorvane = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (quorvane = FindWindowA("Quorvane", "Quorvane")) != nullptr; }));
    DWORD quorvanePid = 0;
    GetWindowThreadProcessId(quorvane, &quorvanePid);
    HANDLE quorvaneProcess = OpenProcess(SYNCHRONIZE, FALSE, quorvanePid);
    PostMessageA(quorvane, WM_COMMAND, 40001, 0);
    EXPECT_EQ(WaitForSingleObject(quorvaneProcess, 10000), WAIT_OBJECT_0);
    CloseHandle(quorvaneProcess);
    if (HWND notepad = FindWindowA("Notepad", nullptr)) // readme.txt, opened at Finish
        PostMessageA(notepad, WM_CLOSE, 0, 0);

    // An update over the running service replaces its program and starts it
    // again; the machine's settings stay.
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, MachineKey, "TimeShift", REG_DWORD, "\x07\0\0\0", 4);
    HANDLE grown = CreateFileA((dist + "qvclock.exe").c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written;
    WriteFile(grown, "update", 6, &written, nullptr);
    CloseHandle(grown);
    EXPECT_EQ(Run("\"" + dist + "SETUP.EXE\" /S /LOG=\"" + log + "\""), 0u) << ReadFileText(log);
    EXPECT_EQ(ReadFileText(installed + "qvclock.exe"), ReadFileText(dist + "qvclock.exe"));
    EXPECT_EQ(QueryClockService().state, DWORD(SERVICE_RUNNING));
    DWORD shift = 0, shiftSize = 4;
    RegGetValueA(HKEY_LOCAL_MACHINE, MachineKey, "TimeShift", RRF_RT_REG_DWORD, nullptr, &shift, &shiftSize);
    EXPECT_EQ(shift, 7u);

    // Cancel during an update ends like a failed copy: the service, stopped
    // for the copy, runs again. A file held open stops the copy with a
    // message (the service is stopped by then); Cancel comes right behind
    // the answer, before the next step.
    HANDLE held = CreateFileA((installed + "readme.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    pid_ = Start(dist + "SETUP.EXE");
    ASSERT_TRUE(WaitFor([&] { return (sheet = FindWizard(pid_)) != nullptr && FindDescendant(sheet, Destination); }));
    ASSERT_EQ(TryDestination(sheet, installed, 30000), installed + "readme.txt は他で使用中のため上書きできません。");
    HWND inUse = lastBox_;
    EXPECT_EQ(QueryClockService().state, DWORD(SERVICE_STOPPED));
    PostMessageA(inUse, WM_COMMAND, IDOK, 0);
    PressWizardButton(sheet, PSBTN_CANCEL);
    HWND question = nullptr;
    std::string questionText;
    ASSERT_TRUE(WaitFor([&] { return (question = FindMessageBox(pid_, nullptr, &questionText)) != nullptr
                                     && question != inUse; }));
    EXPECT_EQ(questionText, "インストールを中止しますか？");
    PostMessageA(question, WM_COMMAND, IDYES, 0);
    EXPECT_EQ(ExitCode(pid_), 1602u);
    CloseHandle(held);
    EXPECT_TRUE(WaitFor([&] { return QueryClockService().state == SERVICE_RUNNING; }));

    // An update whose service step fails (a Key too long for the registry
    // once its Status key is added) leaves the earlier service as it was:
    // automatic start, running.
    const std::string longKey = "SOFTWARE\\veskar\\" + std::string(237, 'k');
    WritePrivateProfileStringA("Service", "Key", longKey.c_str(), (dist + "SETUP.INF").c_str());
    EXPECT_EQ(Run("\"" + dist + "SETUP.EXE\" /S /LOG=\"" + log + "\""), 1603u) << ReadFileText(log);
    // The failed update's script was copied too: both name the right Key again.
    for (const std::string& script : {dist + "SETUP.INF", installed + "SETUP.INF"})
        WritePrivateProfileStringA("Service", "Key", "SOFTWARE\\veskar\\quorvane", script.c_str());
    EXPECT_EQ(QueryClockService().startType, DWORD(SERVICE_AUTO_START));
    EXPECT_TRUE(WaitFor([&] { return QueryClockService().state == SERVICE_RUNNING; }));
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, longKey.c_str());

    // The removal stops and deletes the service whatever version of Windows
    // a compatibility mode makes Setup see.
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\SETUP.EXE", "Version", REG_SZ, "winxp", 6);
    const DWORD request = Start(installed + "SETUP.EXE", "/r");
    std::string text;
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = FindMessageBox(request, nullptr, &text)) != nullptr; }));
    EXPECT_EQ(text, "Quorvaneを削除します。まだ常駐している場合は、今すぐ終了させてからOKボタンを押してください。");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    HWND window = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (window = FindWindowA("#32770", "Quorvaneの削除")) != nullptr; }));
    DWORD copyPid = 0;
    GetWindowThreadProcessId(window, &copyPid);
    std::vector<std::string> messages;
    ASSERT_TRUE(AnswerMessagesUntil(copyPid, [&] { return IsWindowEnabled(GetDlgItem(window, IDCANCEL)) != FALSE; },
                                    &messages));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(ControlText(GetDlgItem(window, UninstallStatus)), "Quorvaneは正常に削除されました。");
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\SETUP.EXE");
    EXPECT_FALSE(Exists(installed));
    EXPECT_EQ(QueryClockService().error, DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(KeyExists(MachineKey));
    EXPECT_FALSE(KeyExists(EventSource));
    EXPECT_FALSE(Exists(ShellFolder("Startup") + "\\Quorvane.lnk"));
    EXPECT_FALSE(Exists(ShellFolder("Programs") + "\\Quorvane.lnk"));
    HKEY key;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\veskar\\quorvane", 0, KEY_READ, &key), ERROR_SUCCESS);
    RemoveTree(dist.substr(0, dist.size() - 1));
}

} // namespace

namespace {

TEST_F(InstallerTest, CancelWhileCopyingAsksFirstAndHoldsTheCopying)
{
    Script("Install", "6", nullptr);
    Script("Install", "Open", nullptr);
    const std::string entry = std::string(UninstallKey) + Title;
    auto registered = [&] {
        HKEY key;
        const bool opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, entry.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (opened)
            RegCloseKey(key);
        return opened;
    };
    for (const int answer : {IDNO, IDYES}) { // each from a clean machine
        Cleanup();
        HWND sheet = StartWizard();
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(TryDestination(sheet, destination_), "");
        ASSERT_TRUE(WaitFor([&] { return FindDescendant(sheet, StartMenu) != nullptr; }));
        // Cancel right behind Next, both queued at once: it reaches the copy
        // page before any step can run (the page waits 300 ms for its first),
        // however slowly this test is scheduled.
        PressWizardButton(sheet, PSBTN_NEXT);
        PressWizardButton(sheet, PSBTN_CANCEL);
        std::string text;
        HWND box = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (box = FindMessageBox(pid_, sheet, &text)) != nullptr; }));
        EXPECT_EQ(text, "インストールを中止しますか？");
        // While the question is open no step runs, not even after the page's
        // 300 ms: no file comes, and the last step (which registers) is due.
        const bool copied = Exists(destination_ + "ro.txt");
        EXPECT_FALSE(registered());
        EXPECT_FALSE(WaitFor([&] { return Exists(destination_ + "ro.txt") != copied || registered(); }, 1500));
        PostMessageA(box, WM_COMMAND, answer, 0);
        if (answer == IDYES) {
            // Yes: the wizard ends, and nothing more is done.
            EXPECT_TRUE(WaitForExit(pid_));
            EXPECT_FALSE(registered());
            break;
        }
        // No: the copy phase goes on from where it stopped to its end.
        ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(GetDlgItem(sheet, FinishButton)) != FALSE; }, 30000));
        EXPECT_TRUE(Exists(destination_ + "ro.txt"));
        EXPECT_TRUE(registered());
        // Once it is over, Cancel simply closes.
        PressWizardButton(sheet, PSBTN_CANCEL);
        EXPECT_TRUE(WaitForExit(pid_));
    }
}

} // namespace

namespace {

TEST_F(InstallerTest, SilentInstallAndRemovalForAdministrators)
{
    Script("Install", "6", nullptr);
    Script("Install", "Open", nullptr);
    // A destination with spaces and Japanese, given as the last argument.
    destination_ = std::string("T:\\テスト 表示 ソフト\\");
    Cleanup();
    const std::string log = source_ + "setup log.txt";
    const std::string entry = std::string(UninstallKey) + Title;
    auto registered = [&] {
        HKEY key;
        const bool opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, entry.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (opened)
            RegCloseKey(key);
        return opened;
    };

    // One Setup of a product at a time: a second one, silent or not, ends
    // with 1618 while the first waits on its first page; Cancel there is 1602.
    HWND sheet = StartWizard();
    ASSERT_NE(sheet, nullptr);
    const DWORD wizard = pid_;
    EXPECT_EQ(Run("\"" + source_ + SetupExe + "\" /S /LOG=\"" + log + "\" /D=" + destination_), 1618u);
    EXPECT_NE(ReadFileText(log).find(std::string(Title) + "のセットアップは既に実行中です。\r\n"), std::string::npos);
    EXPECT_FALSE(Exists(destination_));
    PressWizardButton(sheet, PSBTN_CANCEL);
    EXPECT_EQ(ExitCode(wizard), 1602u);

    // Installed without a window: the files, the links and the entry as
    // after the wizard, with the Start-menu links and no desktop link.
    DeleteFileA(log.c_str());
    EXPECT_EQ(Run("\"" + source_ + SetupExe + "\" /S /LOG=\"" + log + "\" /D=" + destination_.substr(0, destination_.size() - 1)),
              0u) << ReadFileText(log);
    for (const char* file : {SetupExe, SetupScript, "tools.exe", "readme.txt", "sub\\data\\x.dat", "ro.txt"})
        EXPECT_TRUE(Exists(destination_ + file)) << file;
    const std::string group = ShellFolder("Programs") + "\\" + Title + "\\";
    Link link;
    ASSERT_TRUE(ReadLink(group + "ツール.lnk", &link));
    EXPECT_EQ(link.target, destination_ + "tools.exe");
    EXPECT_FALSE(Exists(ShellFolder("Desktop") + "\\" + Title + ".lnk"));
    char quiet[MAX_PATH] = {};
    DWORD size = sizeof quiet;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, entry.c_str(), "QuietUninstallString", RRF_RT_REG_SZ, nullptr, quiet, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(quiet), "\"" + destination_ + SetupExe + "\" /r /S");
    EXPECT_FALSE(Exists(destination_ + "started.txt")); // never started
    std::string text = ReadFileText(log);
    EXPECT_NE(text.find(" インストールが完了しました。\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.compare(0, 2, "20"), 0) << text; // each line starts with the date
    DWORD made = 0;
    size = sizeof made;
    RegGetValueA(HKEY_LOCAL_MACHINE, entry.c_str(), "FolderMadeBySetup", RRF_RT_REG_DWORD, nullptr, &made, &size);
    EXPECT_EQ(made, 1u);

    // "/r" from the downloaded package removes nothing of the installation.
    EXPECT_EQ(Run("\"" + source_ + SetupExe + "\" /r /S /LOG=\"" + log + "\""), 1603u);
    EXPECT_NE(ReadFileText(log).find(destination_ + " にインストールされている" + Title + "は、そのフォルダにあるプログラムで削除してください。"),
              std::string::npos);
    EXPECT_TRUE(Exists(source_ + "tools.exe"));
    EXPECT_TRUE(registered());

    // The uninstall copy gets a name of its own in the System folder: a
    // file of the first name there (held open by someone) stays as it is.
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    const std::string taken = std::string(system) + "\\~1-" + SetupExe;
    const std::string copy = std::string(system) + "\\~2-" + SetupExe;
    WriteFileText(taken, "someone else's");
    HANDLE held = CreateFileA(taken.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    // QuietUninstallString as it is: the request waits for its copy and
    // ends with its code (0); the copy then removes the installer that
    // waited and the folder. Only the copy itself waits for a restart.
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                       "PendingFileRenameOperations");
    DeleteFileA(log.c_str());
    EXPECT_EQ(Run(std::string(quiet) + " /LOG=\"" + log + "\""), 0u) << ReadFileText(log);
    CloseHandle(held);
    EXPECT_EQ(ReadFileText(taken), "someone else's");
    DeleteFileA(taken.c_str());
    EXPECT_NE(ReadFileText(log).find(std::string(Title) + "は正常に削除されました。"), std::string::npos);
    EXPECT_FALSE(registered());
    EXPECT_FALSE(Exists(group + "ツール.lnk"));
    EXPECT_FALSE(Exists(destination_ + "tools.exe"));
    EXPECT_FALSE(Exists(destination_ + "sub"));
    EXPECT_TRUE(WaitFor([&] { return !Exists(destination_); }, 5000));
    auto scheduled = [] {
        std::vector<char> pending(65536);
        DWORD size = DWORD(pending.size());
        RegGetValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                     "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, pending.data(), &size);
        std::vector<std::string> paths; // a deletion is its path and an empty name
        for (const char* p = pending.data(); p < pending.data() + size && (*p || p[1]); p += strlen(p) + 1) {
            if (*p)
                paths.push_back(p);
        }
        return paths;
    };
    // The copy's last act, once it has removed everything else.
    EXPECT_TRUE(WaitFor([&] { return !scheduled().empty(); }, 5000));
    ASSERT_EQ(scheduled().size(), 1u);
    EXPECT_EQ(lstrcmpiA(scheduled()[0].c_str(), ("\\??\\" + RealSystemFile(copy)).c_str()), 0) << scheduled()[0];
    const DWORD boot = Start(std::string(system) + "\\wineboot.exe", "-r");
    ASSERT_TRUE(WaitForExit(boot, 60000));
    EXPECT_TRUE(WaitFor([&] { return !Exists(copy); }));

    // A folder that was there, with the user's file and empty folder: the
    // removal takes only the product's files and folders, and that is
    // success (0).
    const std::string mine = "T:\\qv-mine\\";
    CreateDirectoryA(mine.c_str(), nullptr);
    CreateDirectoryA((mine + "empty").c_str(), nullptr);
    WriteFileText(mine + "mine.txt", "the user's");
    // An earlier removal left its installer there to be deleted at the next
    // start: installed again, it stays; another file's deletion stays too.
    const std::string pending = "\\??\\t" + (mine + SetupExe).substr(1) + '\0' + '\0' + "\\??\\T:\\gone.tmp" + '\0' + '\0';
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                    "PendingFileRenameOperations", REG_MULTI_SZ, pending.c_str(), DWORD(pending.size() + 1));
    // The log by two drive letters for one folder (U: is T:\qv-outside, as
    // SUBST makes it): the same file, so a log both times.
    const std::string sameLog = "T:\\qv-outside\\mine.log";
    DeleteFileA(sameLog.c_str());
    EXPECT_EQ(Run("\"" + source_ + SetupExe + "\" /S /LOG=" + sameLog + " /D=" + mine), 0u) << ReadFileText(sameLog);
    EXPECT_EQ(scheduled(), std::vector<std::string>{"\\??\\T:\\gone.tmp"});
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                       "PendingFileRenameOperations");
    EXPECT_TRUE(Exists(mine + "sub\\data\\x.dat"));
    EXPECT_EQ(Run("\"" + mine + SetupExe + "\" /r /S /LOG=U:\\mine.log"), 0u) << ReadFileText(sameLog);
    EXPECT_NE(ReadFileText(sameLog).find("は正常に削除されました。"), std::string::npos) << ReadFileText(sameLog);
    EXPECT_TRUE(WaitFor([&] { return !Exists(mine + SetupExe); }, 5000));
    for (const char* file : {SetupScript, "tools.exe", "readme.txt", "sub", "ro.txt"})
        EXPECT_FALSE(Exists(mine + file)) << file;
    EXPECT_EQ(ReadFileText(mine + "mine.txt"), "the user's");
    EXPECT_TRUE(Exists(mine + "empty"));
    EXPECT_FALSE(registered());
    RemoveTree(mine.substr(0, mine.size() - 1));
    DeleteFileA(sameLog.c_str());

    // A log named through a link, or by a second name of someone else's
    // file: 1603, nothing done, nothing written to it.
    for (const char* linked : {"T:\\qv-links\\second.log", "T:\\qv-links\\link\\other.log"}) {
        EXPECT_EQ(Run("\"" + source_ + SetupExe + "\" /S /LOG=" + linked + " /D=" + destination_), 1603u) << linked;
        EXPECT_EQ(ReadFileText("T:\\qv-outside\\other.log"), "someone else's\n");
        EXPECT_FALSE(Exists(destination_));
        EXPECT_FALSE(registered());
    }

    // A line that cannot be read, but says /S: no window, 1639 at once.
    const DWORD started = GetTickCount();
    EXPECT_EQ(Run("\"" + source_ + SetupExe + "\" /LOG=\"x /S"), 1639u);
    EXPECT_LT(GetTickCount() - started, 10000u);

    // A broken script: 1603, a log line, and nothing written.
    Script("Install", "5", ",..\\victim.txt");
    DeleteFileA(log.c_str());
    EXPECT_EQ(Run("\"" + source_ + SetupExe + "\" /S /LOG=\"" + log + "\" /D=" + destination_), 1603u);
    text = ReadFileText(log);
    EXPECT_NE(text.find(" 設定ファイルが壊れているか、または見つかりません。\r\n"), std::string::npos) << text;
    EXPECT_FALSE(Exists(destination_));
    EXPECT_FALSE(registered());
}

} // namespace
