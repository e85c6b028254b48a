#include "script_rules.h"

#include <cstring>

#include "dbcs_path.h"

const char ProductFolderSddl[] = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
                                 "(A;OICI;0x1200a9;;;S-1-15-2-1)(A;OICI;0x1200a9;;;S-1-15-2-2)";

bool ScriptFileName(const char* installerName, char* out, size_t size)
{
    const size_t length = strlen(installerName);
    if (length < 3 || length >= size)
        return false;
    memcpy(out, installerName, length - 3);
    memcpy(out + length - 3, "INF", 4);
    return true;
}

bool DefaultDestination(const char* windowsDir, const char* programFiles, char* folder, char* out, size_t size)
{
    char destination[PathSize];
    if (programFiles[0] && programFiles[1] == ':' && CopyBounded(destination, sizeof destination, programFiles)
        && EnsureTrailingBackslash(destination, sizeof destination)) {
        // The programs folder that Windows gives this program.
    } else if (windowsDir[0] && windowsDir[1] == ':') {
        destination[0] = windowsDir[0];
        destination[1] = ':';
        destination[2] = '\0';
        AppendBounded(destination, sizeof destination, "\\Program Files\\");
    } else {
        CopyBounded(destination, sizeof destination, "c:\\");
    }
    if (folder[0] == '\\') {
        memmove(folder, folder + 1, strlen(folder)); // the root of the Windows drive
        destination[0] = windowsDir[0] && windowsDir[1] == ':' ? windowsDir[0] : 'c';
        destination[1] = ':';
        destination[2] = '\\';
        destination[3] = '\0';
    }
    return AppendBounded(destination, sizeof destination, folder)
        && AppendBounded(destination, sizeof destination, "\\") && CopyBounded(out, size, destination);
}

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// A path part made of dots and spaces only, with two dots or more: Windows
// reads it as a step up.
bool IsDotStep(const char* begin, const char* end)
{
    int dots = 0;
    for (const char* p = begin; p < end; ++p) {
        if (*p == '.')
            ++dots;
        else if (*p != ' ')
            return false;
    }
    return dots >= 2;
}

// The System folder's own name when it lies right below the Windows folder
// ("system32" for C:\WINDOWS\system32), into `out`; empty otherwise.
void SystemFolderName(const char* windowsDir, const char* systemDir, char* out, size_t size)
{
    out[0] = '\0';
    size_t length = strlen(windowsDir);
    if (length > 0 && windowsDir[length - 1] == '\\')
        --length;
    if (length == 0 || strlen(systemDir) <= length + 1 || systemDir[length] != '\\')
        return;
    char head[PathSize], windows[PathSize];
    if (length >= sizeof head)
        return;
    memcpy(head, systemDir, length);
    head[length] = '\0';
    memcpy(windows, windowsDir, length);
    windows[length] = '\0';
    const char* name = systemDir + length + 1;
    if (!EqualsIgnoringCase(head, windows))
        return;
    if (FindCharDbcs(name, '\\') || !CopyBounded(out, size, name))
        out[0] = '\0';
}

// Whether a path under the Windows folder starts in one of its folders of
// system files. Empty and "." parts lead nowhere and are skipped first
// (".\System32\a.dll" is "System32\a.dll"); Windows drops trailing dots and
// spaces of a name.
bool IsSystemFolderPath(const char* path, const char* windowsDir, const char* systemDir)
{
    const char* start = path;
    const char* end;
    for (;;) {
        end = start;
        while (*end && *end != '\\' && *end != '/')
            end += CharLength(end);
        const bool dotOnly = end - start == 1 && *start == '.';
        if (!*end || (end != start && !dotOnly))
            break;
        start = end + 1;
    }
    while (end > start && (end[-1] == '.' || end[-1] == ' '))
        --end;
    char first[PathSize];
    const size_t length = size_t(end - start);
    if (length >= sizeof first)
        return false;
    memcpy(first, start, length);
    first[length] = '\0';
    char ownName[PathSize];
    SystemFolderName(windowsDir, systemDir, ownName, sizeof ownName);
    static const char* const systemFolders[] = {"System32", "SysWOW64", "Sysnative", "WinSxS"};
    for (const char* name : systemFolders) {
        if (EqualsIgnoringCase(first, name))
            return true;
    }
    return ownName[0] && EqualsIgnoringCase(first, ownName);
}

} // namespace

bool IsContainedPath(const char* path)
{
    if (IsSeparator(path[0]))
        return false;
    const char* part = path;
    for (const char* p = path;; p += CharLength(p)) {
        if (*p == ':')
            return false;
        if (*p && !IsSeparator(*p))
            continue;
        if (IsDotStep(part, p))
            return false;
        if (!*p)
            return true;
        part = p + 1;
    }
}

bool IsDriveRootPath(const char* path)
{
    if (!path[0] || path[1] != ':' || !IsSeparator(path[2]))
        return false;
    // The depth below the root after each part, as Windows resolves it: ""
    // and "." (and names of spaces) stay, "..", "..." step up, never above
    // the root.
    int depth = 0;
    const char* part = path + 3;
    for (const char* p = part;; p += CharLength(p)) {
        if (*p && !IsSeparator(*p))
            continue;
        bool dotsAndSpaces = true;
        int dots = 0;
        for (const char* q = part; q < p; ++q) {
            dots += *q == '.';
            dotsAndSpaces = dotsAndSpaces && (*q == '.' || *q == ' ');
        }
        if (!dotsAndSpaces)
            ++depth;
        else if (dots >= 2 && depth > 0)
            --depth;
        if (!*p)
            return depth == 0;
        part = p + 1;
    }
}

bool IsPlainName(const char* name)
{
    bool dotsAndSpaces = true;
    for (const char* p = name; *p; p += CharLength(p)) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || (CharLength(p) == 1 && strchr("\\/:*?\"<>|", c)))
            return false;
        dotsAndSpaces = dotsAndSpaces && (c == '.' || c == ' ');
    }
    return !dotsAndSpaces;
}

bool IsFolderName(const char* folder)
{
    char part[PathSize];
    const char* start = folder;
    for (const char* p = folder;; p += CharLength(p)) {
        if (*p && *p != '\\')
            continue;
        const size_t length = size_t(p - start);
        if (length == 0 || length >= sizeof part)
            return false;
        memcpy(part, start, length);
        part[length] = '\0';
        if (!IsPlainName(part))
            return false;
        if (!*p)
            return true;
        start = p + 1;
    }
}

namespace {

// Whether `path` is `folder` itself or below it (`below`), or exactly it;
// letters compare without regard to case, a trailing "\" does not count.
bool IsAtOrBelow(const char* path, const char* folder, bool below)
{
    char head[PathSize];
    size_t length = strlen(folder);
    if (length > 0 && folder[length - 1] == '\\' && !IsTrailByteAt(folder, length - 1))
        --length; // without its "\"
    const size_t pathLength = strlen(path);
    if (length == 0 || length >= sizeof head || pathLength < length)
        return false;
    memcpy(head, path, length);
    head[length] = '\0';
    char folderHead[PathSize];
    memcpy(folderHead, folder, length);
    folderHead[length] = '\0';
    if (IsTrailByteAt(path, length) || !EqualsIgnoringCase(head, folderHead))
        return false;
    const char rest = path[length];
    return rest == '\0' || (rest == '\\' && (path[length + 1] == '\0' || below));
}

} // namespace

bool IsStrictlyBelow(const char* path, const char* folder)
{
    return IsAtOrBelow(path, folder, true) && !IsAtOrBelow(path, folder, false);
}

bool RealSystemPath(const char* path, const char* systemDir, const char* wow64Dir, char* out, size_t size)
{
    if (!wow64Dir[0] || !IsAtOrBelow(path, systemDir, true))
        return CopyBounded(out, size, path);
    size_t length = strlen(systemDir);
    if (systemDir[length - 1] == '\\')
        --length;
    char real[PathSize];
    return CopyBounded(real, sizeof real, wow64Dir) && AppendBounded(real, sizeof real, path + length)
        && CopyBounded(out, size, real);
}

bool IsReservedDestination(const char* destination, const char* windowsDir, const char* const* places, int count)
{
    if (windowsDir[0] && IsAtOrBelow(destination, windowsDir, true))
        return true;
    for (int i = 0; i < count; ++i) {
        if (places[i][0] && IsAtOrBelow(destination, places[i], false))
            return true;
    }
    return false;
}

void PreviousDestination(const char* uninstallString, char* destination, size_t size)
{
    char text[PathSize];
    if (!CopyBounded(text, sizeof text, uninstallString))
        return;
    char* start = text;
    char* end;
    if (*start == '"') {
        ++start;
        end = FindCharDbcs(start, '"');
    } else {
        end = FindCharDbcs(start, ' ');
    }
    if (end) {
        // Back to the last "\" before the end: the installer's folder.
        while (end > start && !(end[-1] == '\\' && !IsTrailByteAt(start, size_t(end - 1 - start))))
            --end;
        *end = '\0';
    }
    CopyBounded(destination, size, start);
}

EntryKind ParseInstallEntry(const char* value, const char* destination, const char* windowsDir,
                            const char* systemDir, InstallEntry* entry)
{
    entry->target[0] = '\0';
    entry->relativePart = 0;
    if (!CopyBounded(entry->source, sizeof entry->source, value)) {
        entry->source[0] = '\0';
        return EntryKind::TooLong;
    }
    if (!entry->source[0])
        return EntryKind::End;
    char* comma = FindCharDbcs(entry->source, ',');
    const char* tail = entry->source;
    EntryKind kind = EntryKind::Destination;
    const char* folder = destination;
    if (comma) {
        *comma = '\0';
        tail = comma + 1;
        // "w!name": the Windows folder; "x!name": the System folder.
        if (tail[0] && tail[1] == '!') {
            const bool windows = tail[0] == 'w' || tail[0] == 'W';
            folder = windows ? windowsDir : systemDir;
            kind = windows ? EntryKind::Destination : EntryKind::System;
            tail += 2;
            // System files are shared and kept at uninstall: they go
            // through "s!", never as a Windows-folder file that is deleted.
            if (windows && IsSystemFolderPath(tail, windowsDir, systemDir)) {
                entry->target[0] = '\0';
                return EntryKind::Outside;
            }
        }
    }
    if (!IsContainedPath(tail)) {
        entry->target[0] = '\0';
        return EntryKind::Outside;
    }
    if (!CopyBounded(entry->target, sizeof entry->target, folder)
        || (folder != destination && !AppendBounded(entry->target, sizeof entry->target, "\\"))) {
        entry->target[0] = '\0';
        return EntryKind::TooLong;
    }
    entry->relativePart = strlen(entry->target);
    if (!AppendBounded(entry->target, sizeof entry->target, tail)) {
        entry->target[0] = '\0';
        return EntryKind::TooLong;
    }
    return kind;
}

GroupKind ParseGroupEntry(const char* value, const char* destination, char* caption, size_t captionSize,
                          char* target, size_t targetSize)
{
    caption[0] = '\0';
    target[0] = '\0';
    const char* comma = FindCharDbcs(value, ',');
    if (!comma || comma == value)
        return GroupKind::End;
    const size_t captionLength = size_t(comma - value);
    char joined[PathSize];
    if (captionLength >= captionSize || !CopyBounded(joined, sizeof joined, destination)
        || !AppendBounded(joined, sizeof joined, comma + 1) || !CopyBounded(target, targetSize, joined))
        return GroupKind::TooLong;
    memcpy(caption, value, captionLength);
    caption[captionLength] = '\0';
    return IsPlainName(caption) ? GroupKind::Shortcut : GroupKind::BadCaption;
}

namespace {

constexpr size_t KeyNameSize = 256;

// The first `max` non-empty key names of a registry path into `names`;
// returns how many names the path has in all. A name too long for its
// buffer is kept cut: it matches none of the short names compared below.
int KeyNames(const char* path, char (*names)[KeyNameSize], int max)
{
    int levels = 0;
    size_t length = 0;
    for (const char* p = path;; p += CharLength(p)) {
        if (*p && *p != '\\') {
            if (length == 0)
                ++levels;
            if (levels <= max && length + CharLength(p) < KeyNameSize) {
                memcpy(names[levels - 1] + length, p, CharLength(p));
                names[levels - 1][length + CharLength(p)] = '\0';
            }
            length += CharLength(p);
            continue;
        }
        length = 0;
        if (!*p)
            return levels;
    }
}

bool IsOneOf(const char* name, const char* const* list, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (EqualsIgnoringCase(name, list[i]))
            return true;
    }
    return false;
}

// A key of the class registry, given by its first name and its depth: only
// a product's own file type (".ext") or ProgID and what lies below it.
bool IsDeletableClassKey(const char* first, int levels)
{
    // What every program and Windows itself registers into, and what
    // Windows' own components live in: never a product's, at any depth.
    static const char* const shared[] = {"*", "AllFilesystemObjects", "AppID", "Applications", "CLSID", "Directory",
                                         "Drive", "Folder", "Installer", "Interface", "MIME", "PROTOCOLS",
                                         "SystemFileAssociations", "TypeLib", "Wow6432Node", "Local Settings",
                                         "Unknown", "DesktopBackground", "Network", "Printers",
                                         "Component Categories", "Media Type", "DirectShow", "Filter", "Record"};
    // The file types and protocols of Windows, down to their verbs:
    // deleting any part would stop programs, scripts, documents or links
    // from opening.
    static const char* const windowsTypes[] = {
        ".exe", ".com", ".bat", ".cmd", ".lnk", ".pif", ".scr", ".dll", ".sys", ".msi", ".txt", ".vbs", ".js",
        ".ps1", ".reg", ".htm", ".html", ".url", ".zip", ".inf", ".ini", ".hta", ".msc", ".cpl", ".wsf", "http",
        "https", "exefile", "comfile", "batfile", "cmdfile", "lnkfile", "piffile", "scrfile", "dllfile", "sysfile",
        "txtfile", "VBSFile", "JSFile", "Msi.Package", "regfile", "htmlfile", "InternetShortcut",
        "CompressedFolder", "inffile", "inifile", "htafile", "MSCFile", "cplfile", "WSFFile",
        // the protocols of Windows, and the script types with their ProgIDs
        "ftp", "file", "mailto", "search-ms", "vbscript", "javascript", ".jse", ".vbe", ".wsh", ".psm1", "JSEFile",
        "VBEFile", "WSHFile", "Microsoft.PowerShellScript.1", "Microsoft.PowerShellModule.1"};
    // Every "ms-..." protocol is Windows' own (ms-settings, ms-windows-store).
    const bool windowsProtocol = (first[0] == 'm' || first[0] == 'M') && (first[1] == 's' || first[1] == 'S')
        && first[2] == '-';
    return levels >= 1 && !windowsProtocol && !IsOneOf(first, windowsTypes, sizeof windowsTypes / sizeof *windowsTypes)
        && !IsOneOf(first, shared, sizeof shared / sizeof *shared);
}

} // namespace

bool IsDeletableKey(RegRoot root, const char* keyPath)
{
    char names[2][KeyNameSize] = {};
    const int levels = KeyNames(keyPath, names, 2);
    if (root == RegRoot::ClassesRoot)
        return IsDeletableClassKey(names[0], levels);
    if (root != RegRoot::CurrentUser && root != RegRoot::LocalMachine)
        return false;
    // Only a vendor's own branch of SOFTWARE: never Windows' settings, the
    // 32-bit view of all of SOFTWARE, the class registry, the
    // administrators' policies or the registrations other programs read.
    static const char* const shared[] = {"Microsoft", "Classes", "Policies", "Wow6432Node", "Clients",
                                         "RegisteredApplications", "ODBC", "Description"};
    return levels >= 2 && EqualsIgnoringCase(names[0], "SOFTWARE")
        && !IsOneOf(names[1], shared, sizeof shared / sizeof *shared);
}

RegRoot ParseRegValue(const char* value, const char** keyPath)
{
    static const struct {
        const char* name;
        RegRoot root;
    } roots[] = {{"HKEY_CURRENT_USER", RegRoot::CurrentUser},
                 {"HKEY_LOCAL_MACHINE", RegRoot::LocalMachine},
                 {"HKEY_CLASSES_ROOT", RegRoot::ClassesRoot}};
    for (const auto& candidate : roots) {
        const size_t length = strlen(candidate.name);
        // The root name exactly, then "\": "HKEY_CURRENT_USERX\Software\Foo"
        // is no value of a known root.
        if (strncmp(value, candidate.name, length) != 0 || value[length] != '\\')
            continue;
        const char* path = value + length + 1;
        if (!IsDeletableKey(candidate.root, path))
            return RegRoot::None;
        *keyPath = path;
        return candidate.root;
    }
    return RegRoot::None;
}
