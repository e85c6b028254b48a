#include "machine_store.h"

#include <shellapi.h>

#include "machine_settings.h"
#include "service_link.h"

namespace {

// The switch, the arguments (at most 2 * 256 + 46 bytes) and a space.
constexpr int ParametersSize = 600;

// Runs the elevated copy and waits for it; the owner stays disabled, and the
// messages of this thread go on (the tray icon stays alive meanwhile).
bool RunElevatedCopy(HWND owner, const MachineSettings& settings)
{
    char program[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    char parameters[ParametersSize] = MACHINE_SETTINGS_SWITCH " ";
    const int prefix = lstrlenA(parameters);
    if (length == 0 || length >= MAX_PATH
        || !EncodeMachineArguments(settings, parameters + prefix, sizeof parameters - prefix))
        return false;
    SHELLEXECUTEINFOA run = {};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS;
    run.hwnd = owner;
    run.lpVerb = "runas";
    run.lpFile = program;
    run.lpParameters = parameters;
    run.nShow = SW_HIDE;
    // Declining the prompt fails with ERROR_CANCELLED.
    if (!ShellExecuteExA(&run) || !run.hProcess)
        return false;
    EnableWindow(owner, FALSE);
    while (MsgWaitForMultipleObjects(1, &run.hProcess, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
    DWORD code = 1;
    GetExitCodeProcess(run.hProcess, &code);
    CloseHandle(run.hProcess);
    return code == 0;
}

} // namespace

bool StoreMachineSettings(HWND owner, const MachineSettings& settings)
{
    const LONG written = WriteMachineSettings(&settings);
    if (written == ERROR_SUCCESS) {
        SendClockServiceControl(SERVICE_CONTROL_REREAD_SETTINGS);
        return true;
    }
    return written == ERROR_ACCESS_DENIED && RunElevatedCopy(owner, settings);
}

const char* MachineSettingsArguments(const char* commandLine)
{
    const int length = lstrlenA(MACHINE_SETTINGS_SWITCH);
    if (!commandLine || CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, commandLine, length,
                                       MACHINE_SETTINGS_SWITCH, length)
                            != CSTR_EQUAL)
        return nullptr;
    const char next = commandLine[length];
    return next == ' ' || next == '\t' || next == '\0' ? commandLine + length : nullptr;
}

int RunMachineSettingsCommand(const char* arguments)
{
    MachineSettings settings;
    if (!DecodeMachineArguments(arguments, &settings))
        return ERROR_INVALID_PARAMETER;
    const LONG written = WriteMachineSettings(&settings);
    if (written != ERROR_SUCCESS)
        return int(written);
    // A service that does not run reads them when it starts.
    SendClockServiceControl(SERVICE_CONTROL_REREAD_SETTINGS);
    return 0;
}
