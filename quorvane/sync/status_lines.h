// Status lines: the only way a sync attempt reports to the user.
#pragma once

#include "win_types.h"

// Appends string-table message `id`, formatted wvsprintf-style with the
// 32-bit arguments that follow, to the list box of the current progress
// window. Without a progress window the line is dropped.
void AddStatusLine(UINT id, ...);

// Appends a line that is already text (a line the clock service kept).
void AddStatusText(const char* line);

// The identifier of the last line added with AddStatusLine (0: none yet):
// how the tray's own attempt ended.
UINT LastStatusLineId();
