#include "clock_service.h"

#include <winsock2.h>

#include "../res/resource.h"
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

struct Worker {
    MachineSettings settings;
    ServiceSchedule schedule; // shared with the control handler, under `lock`
    bool running;             // an attempt runs (under `lock`)
    bool sockets;
    bool failedSinceAnswer;   // the first failure after a usable answer is logged, no more
    UINT loggedEpisode;       // 12324, 12325 or 12327 while an episode of it is logged
    DWORD failures;           // attempts in a row without a good outcome (set, or within tolerance)
};

struct ClockService {
    SERVICE_STATUS_HANDLE statusHandle;
    SERVICE_STATUS status;
    HANDLE events[EventCount];
    HANDLE worker;
    CRITICAL_SECTION lock;
    Worker w;
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
    case SERVICE_CONTROL_SYNC_NOW: {
        // Decided here, so that the caller learns at once whether an attempt
        // starts (NO_ERROR) or the service declines (ERROR_BUSY).
        EnterCriticalSection(&g_service.lock);
        const bool start = g_service.w.sockets
                           && ScheduleSyncNow(&g_service.w.schedule, GetTickCount64(), g_service.w.running);
        if (start)
            g_service.w.running = true; // until the worker takes it
        LeaveCriticalSection(&g_service.lock);
        if (!start)
            return ERROR_BUSY;
        SetEvent(g_service.events[SyncNowEvent]);
        return NO_ERROR;
    }
    case SERVICE_CONTROL_REREAD_SETTINGS:
        SetEvent(g_service.events[RereadEvent]);
        return NO_ERROR;
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

// Logs the first failure after a usable answer, and each episode of
// disagreement, a refused step or standing aside once.
void LogAttempt(Worker* w, const ExchangeResult& result)
{
    const UINT last = g_attemptLines.lastId;
    if (result.clockSet)
        LogClockSet(w->settings.Server, result.figures);
    if (result.usable || g_attemptLines.lastId == IDS_DOMAIN_TIME) {
        w->failedSinceAnswer = result.usable ? false : w->failedSinceAnswer;
    } else if (!w->failedSinceAnswer) {
        LogSyncFailure(w->settings.Server);
        w->failedSinceAnswer = true;
    }
    const bool episode = last == IDS_NO_AGREEMENT || last == IDS_STEP_TOO_LARGE || last == IDS_DOMAIN_TIME;
    if (episode && last != w->loggedEpisode) {
        if (last == IDS_DOMAIN_TIME)
            LogDomainTime(w->settings.Server);
        else
            LogSyncFailure(w->settings.Server);
    }
    w->loggedEpisode = episode ? last : 0;
}

void RunAttempt(Worker* w)
{
    const ULONGLONG started = ReadSystemClock();
    EnterCriticalSection(&g_service.lock);
    ScheduleAttemptStarted(&w->schedule, GetTickCount64());
    w->running = true;
    static ServiceSchedule dropped; // the addresses dropped so far, read without the lock
    dropped = w->schedule;
    LeaveCriticalSection(&g_service.lock);
    ClearAttemptLines();
    const ExchangeOptions options = {&dropped, FollowsDomainTime()};
    const ExchangeResult result = RunSntpExchange(w->settings, g_service.events[StopEvent], options);
    EnterCriticalSection(&g_service.lock);
    w->running = false;
    if (!result.stopped) {
        for (int i = 0; i < result.deniedCount; ++i)
            ScheduleDropAddress(&w->schedule, result.denied[i], result.deniedCode[i]);
        ScheduleAttemptEnded(&w->schedule, result.outcome);
    }
    LeaveCriticalSection(&g_service.lock);
    if (result.stopped)
        return;
    // Only a corrected clock (or one found right) ends a run of failures;
    // standing aside for a domain is neither good nor bad.
    const UINT last = g_attemptLines.lastId;
    const bool good = result.clockSet || last == IDS_TEST_COMPLETED;
    if (last != IDS_DOMAIN_TIME)
        w->failures = good ? 0 : w->failures + 1;
    const ULONGLONG synced = ReadSystemClock(), counter = ReadMonotonicClock();
    WriteAttemptStatus(started, result, good, w->failures, synced, counter);
    LogAttempt(w, result);
}

DWORD WINAPI WorkerThread(void*)
{
    Worker* w = &g_service.w;
    for (;;) {
        EnterCriticalSection(&g_service.lock);
        const ULONGLONG wait = ScheduleWait(&w->schedule, GetTickCount64());
        LeaveCriticalSection(&g_service.lock);
        const DWORD timeout = wait == NoAttempt ? INFINITE : wait > 0x7FFFFFFF ? 0x7FFFFFFF : DWORD(wait);
        const DWORD woken = WaitForMultipleObjects(EventCount, g_service.events, FALSE, timeout);
        const ULONGLONG now = GetTickCount64();
        if (woken == WAIT_OBJECT_0 + StopEvent)
            break;
        if (woken == WAIT_FAILED) {
            // Waiting again would only spin: the service stops and says why,
            // and the service manager's recovery may start it again.
            const DWORD error = GetLastError();
            LogServiceFault(error);
            g_service.status.dwWin32ExitCode = error ? error : ERROR_INVALID_HANDLE;
            SetEvent(g_service.events[StopEvent]);
            break;
        }
        if (woken == WAIT_OBJECT_0 + SyncNowEvent) {
            RunAttempt(w); // the handler has counted it
            continue;
        }
        EnterCriticalSection(&g_service.lock);
        bool due = false;
        if (woken == WAIT_OBJECT_0 + RereadEvent) {
            ReadMachineSettings(&w->settings);
            ScheduleSettingsChanged(&w->schedule, now, w->settings.Sync != 0, DWORD(w->settings.SyncInterval),
                                    w->settings.Server);
        } else if (woken == WAIT_OBJECT_0 + ResumeEvent) {
            ScheduleResumed(&w->schedule, now);
        } else if (woken == WAIT_TIMEOUT && ScheduleWait(&w->schedule, now) == 0) {
            // A user's attempt taken by the handler at this very moment is
            // the one that runs: never two back to back.
            due = !w->running;
            if (!w->sockets) {
                ScheduleAttemptStarted(&w->schedule, now);
                ScheduleAttemptEnded(&w->schedule, OutcomeFailed);
                due = false;
            }
        }
        LeaveCriticalSection(&g_service.lock);
        if (due)
            RunAttempt(w);
    }
    if (w->sockets)
        WSACleanup();
    return 0;
}

} // namespace

void WINAPI ClockServiceMain(DWORD, char**)
{
    // Everything the control handler touches exists before it can be called.
    // Stop stays set for every wait that watches it; the requests are taken once.
    DWORD failed = NO_ERROR;
    for (int i = 0; i < EventCount; ++i) {
        g_service.events[i] = CreateEventA(nullptr, i == StopEvent, FALSE, nullptr);
        if (!g_service.events[i] && failed == NO_ERROR)
            failed = GetLastError() ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    }
    InitializeCriticalSection(&g_service.lock);
    Worker* w = &g_service.w;
    WSADATA data;
    w->sockets = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    ReadMachineSettings(&w->settings);
    ScheduleStart(&w->schedule, GetTickCount64(), w->settings.Sync != 0, DWORD(w->settings.SyncInterval),
                  w->settings.Server);
    g_service.statusHandle = RegisterServiceCtrlHandlerExA(CLOCK_SERVICE_NAME, ControlHandler, nullptr);
    if (!g_service.statusHandle)
        return;
    g_service.worker = failed == NO_ERROR ? CreateThread(nullptr, 0, WorkerThread, nullptr, 0, nullptr) : nullptr;
    if (!g_service.worker) {
        g_service.status.dwWin32ExitCode = failed != NO_ERROR ? failed : GetLastError();
        LogServiceFault(g_service.status.dwWin32ExitCode);
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
