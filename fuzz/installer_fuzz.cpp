// Arbitrary script values, paths and command lines through the entry,
// [Service] and command-line parsing, the double-byte routines and the WININIT rewrite. Besides the sanitizers'
// checks: results always fit their buffers and are always terminated, and
// the Rename section always ends with the new line.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "command_line.h"
#include "dbcs_path.h"
#include "script_rules.h"
#include "service_rules.h"
#include "wininit.h"

bool IsLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

namespace {

void Check(bool condition)
{
    if (!condition)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char value[1024];
    const size_t length = size < sizeof value - 1 ? size : sizeof value - 1;
    memcpy(value, data, length);
    value[length] = '\0';

    InstallEntry entry;
    const EntryKind kind = ParseInstallEntry(value, "C:\\Program Files\\" "\x83\x5c" "\\", "C:\\WINDOWS",
                                             "C:\\WINDOWS\\SYSTEM32", &entry);
    Check(strlen(entry.target) < sizeof entry.target && strlen(entry.source) < sizeof entry.source);
    Check(kind == EntryKind::TooLong || kind == EntryKind::End || kind == EntryKind::Outside
          || entry.relativePart <= strlen(entry.target));
    Check(kind != EntryKind::Outside || !entry.target[0]); // nothing outside is ever named

    // No accepted "w!" entry reaches a folder of system files: its first
    // real part (empty and "." parts skipped, trailing dots and spaces
    // dropped) is none of them, nor the System folder's own name.
    InstallEntry windowsEntry;
    if (ParseInstallEntry(value, "C:\\T\\", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", &windowsEntry) == EntryKind::Destination
        && strncmp(windowsEntry.target, "C:\\WINDOWS\\", 11) == 0) {
        const char* part = windowsEntry.target + 11;
        size_t length;
        for (;; part += length + 1) {
            length = strcspn(part, "\\/");
            if (!part[length] || !(length == 0 || (length == 1 && part[0] == '.')))
                break;
        }
        while (length > 0 && (part[length - 1] == '.' || part[length - 1] == ' '))
            --length;
        static const char* const refusedNames[] = {"SYSTEM32", "SYSWOW64", "SYSNATIVE", "WINSXS", "SYSTEM"};
        for (const char* refused : refusedNames) {
            bool same = length == strlen(refused);
            for (size_t i = 0; same && i < length; ++i)
                same = (part[i] >= 'a' && part[i] <= 'z' ? part[i] - 32 : part[i]) == refused[i];
            Check(!same);
        }
    }

    char caption[100], target[PathSize];
    ParseGroupEntry(value, "C:\\T\\", caption, sizeof caption, target, sizeof target);
    Check(strlen(caption) < sizeof caption && strlen(target) < sizeof target);

    const char* keyPath = nullptr;
    if (ParseRegValue(value, &keyPath) != RegRoot::None)
        Check(keyPath && *keyPath);

    SetupCommand command;
    if (ParseSetupCommand(value, &command))
        Check(strlen(command.destination) < PathSize && strlen(command.log) < PathSize
              && strlen(command.path) < PathSize);
    // A drive root in any spelling starts as one; nothing lies below itself.
    if (IsDriveRootPath(value))
        Check(value[1] == ':' && (value[2] == '\\' || value[2] == '/'));
    Check(!IsStrictlyBelow(value, value));
    const char* places[] = {value, ""};
    IsReservedDestination(value, value, places, 2);
    char real[PathSize];
    if (RealSystemPath(value, "C:\\WINDOWS\\SYSTEM32", "C:\\WINDOWS\\SysWOW64", real, sizeof real))
        Check(strlen(real) < sizeof real);

    char path[PathSize];
    if (CopyBounded(path, sizeof path, value)) {
        EnsureTrailingBackslash(path, sizeof path);
        Check(strlen(path) < sizeof path);
        if (const char* found = FindCharDbcs(path, '\\'))
            Check(!IsTrailByteAt(path, size_t(found - path)));
        char destination[PathSize] = "C:\\Old\\";
        PreviousDestination(path, destination, sizeof destination);
        Check(strlen(destination) < sizeof destination);
    }

    // The [Service] values: a key it accepts is one a script may delete.
    if (IsServiceKey(value))
        Check(IsDeletableKey(RegRoot::LocalMachine, value));
    IsPrivilegeList(value);
    bool validStart;
    ServiceStartsAutomatically(value, &validStart);
    char sid[80], sddl[200];
    if (IsServiceName(value)) {
        Check(ServiceSid(value, sid, sizeof sid) && strncmp(sid, "S-1-5-80-", 9) == 0);
        Check(StatusKeySddl(sid, sddl, sizeof sddl));
    }

    static char out[70000], back[70000];
    const size_t written =
        RewriteRenameSection(reinterpret_cast<const char*>(data), size, "C:\\X.EXE", true, out, sizeof out);
    if (written) {
        Check(written >= 16 && memcmp(out + written - 14, "NUL=C:\\X.EXE\r\n", 14) == 0);
        // Taken back: shorter, and taking it back again changes nothing.
        const size_t kept = RewriteRenameSection(out, written, "C:\\X.EXE", false, back, sizeof back);
        static char again[70000];
        Check(kept > 0 && kept < written
              && RewriteRenameSection(back, kept, "C:\\X.EXE", false, again, sizeof again) == kept
              && memcmp(back, again, kept) == 0);
    }

    // The pending operations: never longer, and a second pass takes nothing.
    static char16_t operations[35000];
    const size_t units = size / 2 < 35000 ? size / 2 : 35000;
    memcpy(operations, data, units * 2);
    const size_t left = WithoutPendingDeletion(operations, units, u"\\??\\C:\\X.EXE");
    Check(left <= units && WithoutPendingDeletion(operations, left, u"\\??\\C:\\X.EXE") == left);
    return 0;
}
