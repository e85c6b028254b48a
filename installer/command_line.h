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
    ExitCancelled = 1602,
    ExitFailed = 1603,        // a copy failed, a broken script, no rights, a refused destination
    ExitAlreadyRunning = 1618, // another Setup of the same product runs
    ExitBadCommandLine = 1639  // ERROR_INVALID_COMMAND_LINE: the line cannot be understood
};

enum class SetupAction { Wizard, UninstallRequest, UninstallCopy };

// What the uninstall request hands its copy by inheritance, as handle
// values (0: none): the open log, the request process itself (to wait for
// its end), and the write end of a pipe that takes the result.
struct CopyHandles {
    unsigned log;     // "/LOGHANDLE=n"
    unsigned request; // "/REQUEST=n"
    unsigned result;  // "/RESULT=n"
};

struct SetupCommand {
    SetupAction action;
    bool silent;                // "/S": no window at all
    bool desktop;               // "/DESKTOP": a desktop link in silent mode
    char destination[PathSize]; // "/D=path", the last argument, unquoted; empty when not given
    char log[PathSize];         // "/LOG=path" or "/LOG="path""; empty when not given
    char path[PathSize];        // "x": the installed installer's path
    CopyHandles handles;        // "x": what the request passed on
};

// Reads a command line: options "/S", "/DESKTOP", "/LOG=" and "/D=" (the
// rest of the line), the letter "r" (or "/r", either case) for the
// uninstall request, and "x <path>" for the uninstall copy, which takes "/S",
// "/LOG=" and the handle options of CopyHandles (decimal) between the letter
// and the path. Other words are ignored. A "/S" that stands alone anywhere
// makes `silent` true even when the rest cannot be read. False for a text
// that does not fit, an unterminated quote or a handle that is no number.
bool ParseSetupCommand(const char* text, SetupCommand* command);

// The uninstall copy's command line: the copy quoted, " x ", the handles
// that are not 0 (with "/S" first in silent mode), then the installed
// installer's path.
bool BuildCopyCommand(const char* copy, const char* ownPath, bool silent, const CopyHandles& handles, char* out,
                      size_t size);
