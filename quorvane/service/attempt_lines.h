// The status lines of the service's running attempt: the service's sink of
// the lines that the shared SNTP code reports with AddStatusLine.
#pragma once

#include "status_format.h"

constexpr int MaxAttemptLines = 48; // an attempt of five sends shows at most about 35

struct AttemptLines {
    char* packed;   // the lines in order, each with its NUL, and room for the final NUL
    int length;     // bytes of `packed` in use
    int count;
    int lastOffset; // where the last line starts
    UINT lastId;    // its string-table ID
};

extern AttemptLines g_attemptLines;

void ClearAttemptLines();
// The last line, or an empty text.
const char* LastAttemptLine();
