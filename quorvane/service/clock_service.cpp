#include "clock_service.h"

#include <winsock2.h>

#include "attempt_lines.h"
#include "clock.h"
#include "machine_settings.h"
#include "service_report.h"
#include "service_schedule.h"
#include "sntp_exchange.h"

namespace {

const DWORD StopWaitMs = 1500; // stop and shutdown end the service within 2 s
const DWORD ResumeAutomatic = 0x12; // PBT_APMRESUMEAUTOMATIC

// What the control handler (on the dispatcher's thread) hands the worker.
enum WorkerEvent { StopEvent, SyncNowEvent, RereadEvent, ResumeEvent, EventCount };

struct ClockService {
    SERVICE_STATUS_HANDLE statusHandle;
    SERVICE_STATUS status;
    HANDLE events[EventCount];
    HANDLE worker;
};

ClockService g_service;

void ReportState(DWORD state)
{
    g_service.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_service.status.dwCurrentState = state;
    g_service.status.dwControlsAccepted
        = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT : 0;
    g_service.status.dwWaitHint = state == SERVICE_STOP_PENDING ? 2000 : 0;
    if (state == SERVICE_STOP_PENDING)
        ++g_service.status.dwCheckPoint;
    SetServiceStatus(g_service.statusHandle, &g_service.status);
}

// Nothing a caller sends carries a value: an interactive user may only ask
// for a synchronisation now or for the settings to be read again.
DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        ReportState(SERVICE_STOP_PENDING);
        SetEvent(g_service.events[StopEvent]);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    case SERVICE_CONTROL_POWEREVENT:
        if (eventType == ResumeAutomatic)
            SetEvent(g_service.events[ResumeEvent]);
        return NO_ERROR;
    case SERVICE_CONTROL_SYNC_NOW:
        SetEvent(g_service.events[SyncNowEvent]);
        return NO_ERROR;
    case SERVICE_CONTROL_REREAD_SETTINGS:
        SetEvent(g_service.events[RereadEvent]);
        return NO_ERROR;
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

struct Worker {
    MachineSettings settings;
    ServiceSchedule schedule;
    bool failedSinceSuccess; // the first failure after a success is logged, no more
};

void RunAttempt(Worker* w)
{
    const ULONGLONG started = ReadSystemClock();
    ScheduleAttemptStarted(&w->schedule, GetTickCount64());
    ClearAttemptLines();
    const ExchangeResult result = RunSntpExchange(w->settings, g_service.events[StopEvent]);
    if (result.stopped)
        return;
    ScheduleAttemptEnded(&w->schedule, result.outcome);
    WriteAttemptStatus(started, result.clockSet, ReadSystemClock());
    if (result.clockSet) {
        LogClockSet(w->settings.Server, result.figures);
        w->failedSinceSuccess = false;
    } else if (result.outcome != OutcomeAnswered && !w->failedSinceSuccess) {
        LogSyncFailure(w->settings.Server);
        w->failedSinceSuccess = true;
    }
}

DWORD WINAPI WorkerThread(void*)
{
    WSADATA data;
    const bool sockets = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    static Worker w;
    ReadMachineSettings(&w.settings);
    ScheduleStart(&w.schedule, GetTickCount64(), w.settings.Sync != 0, DWORD(w.settings.SyncInterval),
                  w.settings.Server);
    for (;;) {
        const ULONGLONG wait = ScheduleWait(&w.schedule, GetTickCount64());
        const DWORD timeout = wait == NoAttempt ? INFINITE : wait > 0x7FFFFFFF ? 0x7FFFFFFF : DWORD(wait);
        const DWORD woken = WaitForMultipleObjects(EventCount, g_service.events, FALSE, timeout);
        const ULONGLONG now = GetTickCount64();
        if (woken == WAIT_OBJECT_0 + StopEvent) {
            break;
        } else if (woken == WAIT_OBJECT_0 + SyncNowEvent) {
            if (sockets && ScheduleSyncNow(&w.schedule, now, false))
                RunAttempt(&w);
        } else if (woken == WAIT_OBJECT_0 + RereadEvent) {
            ReadMachineSettings(&w.settings);
            ScheduleSettingsChanged(&w.schedule, now, w.settings.Sync != 0, DWORD(w.settings.SyncInterval),
                                    w.settings.Server);
        } else if (woken == WAIT_OBJECT_0 + ResumeEvent) {
            ScheduleResumed(&w.schedule, now);
        } else if (woken == WAIT_TIMEOUT && ScheduleWait(&w.schedule, now) == 0) {
            if (sockets)
                RunAttempt(&w);
            else
                ScheduleAttemptEnded(&w.schedule, OutcomeFailed);
        }
    }
    if (sockets)
        WSACleanup();
    return 0;
}

} // namespace

void WINAPI ClockServiceMain(DWORD, char**)
{
    g_service.statusHandle = RegisterServiceCtrlHandlerExA(CLOCK_SERVICE_NAME, ControlHandler, nullptr);
    if (!g_service.statusHandle)
        return;
    // Stop stays set for every wait that watches it; the requests are taken once.
    for (int i = 0; i < EventCount; ++i)
        g_service.events[i] = CreateEventA(nullptr, i == StopEvent, FALSE, nullptr);
    g_service.worker = CreateThread(nullptr, 0, WorkerThread, nullptr, 0, nullptr);
    if (!g_service.worker) {
        g_service.status.dwWin32ExitCode = GetLastError();
        ReportState(SERVICE_STOPPED);
        return;
    }
    ReportState(SERVICE_RUNNING);
    WaitForSingleObject(g_service.events[StopEvent], INFINITE);
    // The worker watches the stop event in every wait; a name lookup that
    // does not return stays behind on its own thread and ends with the process.
    WaitForSingleObject(g_service.worker, StopWaitMs);
    ReportState(SERVICE_STOPPED);
}
