#include "descriptor_rules.h"

#include <cstdint>
#include <cstring>

namespace {

// The self-relative layout (winnt.h): a 20-byte header with the offsets of
// the owner and the DACL, an ACL header of 8 bytes, ACEs of a 4-byte header,
// a 4-byte mask and (for the plain kinds) the SID.
constexpr uint16_t SelfRelative = 0x8000, DaclPresent = 0x0004;
constexpr uint8_t AccessAllowed = 0, AccessAllowedObject = 5, AccessAllowedCallback = 9,
                  AccessAllowedCallbackObject = 11;
constexpr uint8_t InheritOnly = 0x08;
constexpr uint32_t Delete = 0x10000, WriteDac = 0x40000, WriteOwner = 0x80000;
constexpr uint32_t AddFile = 0x2, AddSubdirectory = 0x4, WriteEa = 0x10, DeleteChild = 0x40, WriteAttributes = 0x100;
constexpr uint32_t GenericAll = 0x10000000, GenericWrite = 0x40000000, FileAllAccess = 0x1f01ff;

uint16_t Word(const unsigned char* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t Dword(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The length of the SID at `sid`, 0 when it does not fit in `room` bytes.
size_t SidLength(const unsigned char* sid, size_t room)
{
    if (room < 8 || sid[0] != 1)
        return 0;
    const size_t length = 8 + 4 * size_t(sid[1]);
    return length <= room ? length : 0;
}

// Administrators (S-1-5-32-544), SYSTEM (S-1-5-18), TrustedInstaller
// (S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464).
bool IsAdministration(const unsigned char* sid, size_t length)
{
    static const unsigned char administrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
    static const unsigned char system[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    static const unsigned char trustedInstaller[] = {1, 6, 0, 0, 0, 0, 0, 5, 80, 0, 0, 0,
                                                     0xb5, 0x89, 0xfb, 0x38, 0x19, 0x84, 0xc2, 0xcb,
                                                     0x5c, 0x6c, 0x23, 0x6d, 0x57, 0x00, 0x77, 0x6e,
                                                     0xc0, 0x02, 0x64, 0x87};
    return (length == sizeof administrators && !memcmp(sid, administrators, length))
        || (length == sizeof system && !memcmp(sid, system, length))
        || (length == sizeof trustedInstaller && !memcmp(sid, trustedInstaller, length));
}

uint32_t RefusedRights(FolderUse use)
{
    switch (use) {
    case FolderUse::OnTheWay: return Delete | WriteDac | WriteOwner;
    case FolderUse::Destination:
        return Delete | WriteDac | WriteOwner | AddFile | AddSubdirectory | WriteEa | DeleteChild | WriteAttributes;
    default: return DeleteChild;
    }
}

} // namespace

bool KeepsOthersOut(const unsigned char* descriptor, size_t size, FolderUse use)
{
    if (!descriptor || size < 20 || descriptor[0] != 1 || !(Word(descriptor + 2) & SelfRelative))
        return false;
    const uint32_t ownerOffset = Dword(descriptor + 4), daclOffset = Dword(descriptor + 16);
    if (use != FolderUse::Parent) {
        if (ownerOffset < 20 || ownerOffset >= size)
            return false; // no owner: nobody known holds the folder
        const size_t ownerLength = SidLength(descriptor + ownerOffset, size - ownerOffset);
        if (!ownerLength || !IsAdministration(descriptor + ownerOffset, ownerLength))
            return false;
    }
    if (!(Word(descriptor + 2) & DaclPresent) || daclOffset == 0)
        return false; // no DACL: everyone may do everything
    if (daclOffset < 20 || daclOffset > size - 8)
        return false;
    const unsigned char* acl = descriptor + daclOffset;
    const size_t aclSize = Word(acl + 2);
    if (aclSize < 8 || aclSize > size - daclOffset)
        return false;
    const uint32_t refused = RefusedRights(use);
    size_t at = 8;
    for (unsigned n = Word(acl + 4); n > 0; --n) {
        if (aclSize - at < 8)
            return false;
        const unsigned char* ace = acl + at;
        const size_t aceSize = Word(ace + 2);
        if (aceSize < 8 || aceSize > aclSize - at)
            return false;
        at += aceSize;
        const uint8_t type = ace[0];
        // Inherit-only entries are for what the folder holds, not for it.
        if (ace[1] & InheritOnly)
            continue;
        uint32_t rights = Dword(ace + 4);
        if (rights & GenericAll)
            rights |= FileAllAccess;
        if (rights & GenericWrite)
            rights |= AddFile | AddSubdirectory | WriteEa | WriteAttributes;
        if (!(rights & refused))
            continue;
        if (type == AccessAllowedObject || type == AccessAllowedCallbackObject)
            return false; // read as another account's
        if (type != AccessAllowed && type != AccessAllowedCallback)
            continue; // denials, audits and labels grant nothing
        const size_t sidLength = SidLength(ace + 8, aceSize - 8);
        if (!sidLength || !IsAdministration(ace + 8, sidLength))
            return false;
    }
    return true;
}
