// The rules of a setup script's [Service] section, as plain text
// operations, and the security descriptors that Setup gives the service, its
// settings key and its status key.
#pragma once

#include <cstddef>

#include "script_rules.h"

// Who may do what with the service: SYSTEM runs it; Administrators control
// and configure it; interactive users may only query its status and send
// user-defined controls (synchronise now, re-read the settings).
constexpr char ServiceSddl[] = "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;LCCR;;;IU)";
// The service's settings key: SYSTEM and Administrators full control, Users
// read; nothing inherited, so that no broader parent right reaches it.
constexpr char ServiceKeySddl[] = "D:PAI(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";
// Its Status subkey: the same, and the service's own SID may set values
// (KEY_SET_VALUE) there and nothing more. The SID is appended with ";;;", then ")".
constexpr char StatusKeySddlStart[] = "D:PAI(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)(A;CI;0x2;;;";

// The account a script may choose, in the form CreateService takes; null for
// anything but "LocalService" and "NetworkService" (any case).
const char* ServiceAccountName(const char* account);
// Start=auto (true) or demand (false); false in `valid` for anything else.
bool ServiceStartsAutomatically(const char* start, bool* valid);
// A service name: 1 to 256 printable ASCII characters other than "/" and "\"
// (its SID and its registry keys are made from it).
bool IsServiceName(const char* name);
// A comma-separated list of privilege names ("Se...Privilege"), each a plain
// name; empty is no list.
bool IsPrivilegeList(const char* privileges);
// The service's Key: a key below HKEY_LOCAL_MACHINE\SOFTWARE that a script
// may delete.
bool IsServiceKey(const char* key);

// The service SID, "S-1-5-80-" and the five words of the SHA-1 of the
// upper-case name in UTF-16LE, as Windows makes it for NT SERVICE\<name>.
bool ServiceSid(const char* name, char* out, size_t size);
// The Status key's descriptor for that SID.
bool StatusKeySddl(const char* sid, char* out, size_t size);
