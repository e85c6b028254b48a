// The command line of the setup program, as plain text operations: the
// wizard, the uninstall request ("r") and the uninstall copy ("x"), each
// interactive or silent ("/S"), and the exit codes that deployment tools
// read.
#pragma once

#include <cstddef>

#include "script_rules.h"

// The exit codes that administrators know from other installers.
enum SetupExitCode {
    ExitSuccess = 0,
    ExitRestartNeeded = 3010, // done, but a file of the product changes at the next restart
    ExitCancelled = 1602,
    ExitFailed = 1603,        // a copy failed, a broken script, no rights, a refused destination
    ExitAlreadyRunning = 1618 // another Setup of the same product runs
};

enum class SetupAction { Wizard, UninstallRequest, UninstallCopy };

struct SetupCommand {
    SetupAction action;
    bool silent;                // "/S": no window at all
    bool desktop;               // "/DESKTOP": a desktop link in silent mode
    char destination[PathSize]; // "/D=path", the last argument, unquoted; empty when not given
    char log[PathSize];         // "/LOG=path" or "/LOG="path""; empty when not given
    char path[PathSize];        // "x": the installed installer's path
};

// Reads a command line: options "/S", "/DESKTOP", "/LOG=" and "/D=" (the
// rest of the line), the letter "r" (or "/r", either case) for the
// uninstall request, and "x <path>" for the uninstall copy, which takes "/S"
// and "/LOG=" between the letter and the path. Other words are ignored.
// False for a text that does not fit or an unterminated quote.
bool ParseSetupCommand(const char* text, SetupCommand* command);

// The uninstall copy's command line: the copy quoted, " x ", then the
// installed installer's path; in silent mode "/S" and the log go between.
bool BuildCopyCommand(const char* copy, const char* ownPath, bool silent, const char* log, char* out, size_t size);
