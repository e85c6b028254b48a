// Whether another account can rename, replace or change a folder, judged
// from the folder's security descriptor alone (the self-relative form that
// GetFileSecurity and ConvertStringSecurityDescriptorToSecurityDescriptor
// give), as plain bytes.
#pragma once

#include <cstddef>

// What the folder is to Setup, and so what no other account may do to it.
enum class FolderUse {
    OnTheWay,    // an existing folder above the destination: owned by
                 // Administrators, SYSTEM or TrustedInstaller; nobody else
                 // may delete (rename) it or change its owner or permissions
    Destination, // the destination itself: the same, and nobody else may
                 // write in it either
    Parent,      // the parent of either: nobody else may delete what it
                 // holds (FILE_DELETE_CHILD); its owner is not looked at here
};

// True when only Administrators, SYSTEM and TrustedInstaller have the rights
// that `use` names. Entries that apply only to what the folder holds
// (inherit-only) do not count; generic rights count as what they stand for;
// an allow entry of a kind this does not read counts as another account's
// full control; no DACL at all (FAT, or a NULL DACL) lets everyone in.
// False for a descriptor that is broken or cut short.
bool KeepsOthersOut(const unsigned char* descriptor, size_t size, FolderUse use);
