#include "script_rules.h"

#include <cstring>

#include "dbcs_path.h"

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

bool RealCopyPath(const char* ownPath, const char* systemDir, const char* wow64Dir, char* out, size_t size)
{
    const char* name = ownPath;
    for (const char* p = FindCharDbcs(ownPath, '\\'); p; p = FindCharDbcs(p + 1, '\\'))
        name = p + 1;
    char folder[PathSize];
    const size_t folderLength = size_t(name - ownPath);
    if (!wow64Dir[0] || folderLength == 0 || folderLength >= sizeof folder)
        return CopyBounded(out, size, ownPath);
    memcpy(folder, ownPath, folderLength - 1); // without its "\"
    folder[folderLength - 1] = '\0';
    if (!EqualsIgnoringCase(folder, systemDir))
        return CopyBounded(out, size, ownPath);
    char path[PathSize];
    return CopyBounded(path, sizeof path, wow64Dir) && EnsureTrailingBackslash(path, sizeof path)
        && AppendBounded(path, sizeof path, name) && CopyBounded(out, size, path);
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

// The number of non-empty key names in a registry path.
int KeyLevels(const char* path)
{
    int levels = 0;
    bool inName = false;
    for (const char* p = path; *p; p += CharLength(p)) {
        const bool separator = *p == '\\';
        if (!separator && !inName)
            ++levels;
        inName = !separator;
    }
    return levels;
}

} // namespace

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
        if (strncmp(value, candidate.name, length) != 0)
            continue;
        const char* path = value + length;
        if (*path)
            ++path; // the separator, whatever it is
        // A root alone, or a root and one key, names a branch that many
        // programs share: never delete that.
        if (KeyLevels(path) < 2)
            return RegRoot::None;
        *keyPath = path;
        return candidate.root;
    }
    return RegRoot::None;
}
