// The copy phase on the wizard's last page, one step per posted command.
#pragma once

#include <windows.h>

// The command identifier that runs the next step on page 3.
constexpr WORD CopyStepCommand = 1;

void RunCopyStep(HWND page);
bool CopyEntry();
