// The copy phase on the wizard's last page, one step per posted command.
#pragma once

#include <windows.h>

// The command identifier that runs the next step on page 3.
constexpr WORD CopyStepCommand = 1;

// Runs the next step; true while more steps follow. With a page, the
// progress bar moves and the next step is posted to the page; without one
// (silent mode) the caller runs the steps in a loop.
bool RunCopyStep(HWND page);
bool CopyEntry();
