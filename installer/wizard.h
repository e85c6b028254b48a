// The three-page installation wizard.
#pragma once

#include <windows.h>

// The wizard; its exit code (SetupExitCode).
int RunWizard();
// "/S": installs without a window into `destination` (empty: the one the
// wizard would propose), with Start-menu links and, with `desktop`, a
// desktop link; no question, no start of the product. Its exit code.
int RunSilentInstall(const char* destination, bool desktop);
// The checks of a destination (g_setup.destination, given its "\\"): false,
// after the message, for one that cannot be used. With `askAboutSpace` a
// drive with little room is a question.
bool CheckDestination(HWND owner, bool askAboutSpace);
// Moves a window to the middle of the screen.
void CenterWindow(HWND window);
