// The lead-byte test of the system's ANSI code page.
#include <windows.h>

#include "dbcs_path.h"

bool IsLeadByte(unsigned char byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
}
