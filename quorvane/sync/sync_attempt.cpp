#include "sync_attempt.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "../res/resource.h"
#include "clock.h"
#include "clock_health.h"
#include "health_store.h"
#include "machine_settings.h"
#include "ntp_time.h"
#include "reply.h"
#include "request_exchange.h"
#include "resolver.h"
#include "server_kiss.h"
#include "service_link.h"
#include "status_lines.h"

namespace {

const char RunningLabel[] = "ｷｬﾝｾﾙ";
const char EndedLabel[] = "閉じる";
const char NtpService[] = "123";

struct SyncAttempt {
    HWND window;
    SyncRequest request; // Server points at hostName
    char hostName[256];
    ResolveRequest* resolver;
    addrinfo* addresses; // only the first entry is used
    SOCKET socket;
    int resendCount;
    RequestLog sent; // the requests of this attempt, which alone may be answered
    bool winsockStarted;
    ULONGLONG serviceAttempt; // the service's LastAttemptTime when it was asked
    DWORD serviceAsked;       // tick count when it was asked
    // An automatic attempt of the tray's own, which the clock's health counts.
    bool automatic;
    bool heard;       // a datagram came from the server
    ULONGLONG started;
};

SyncAttempt g_attempt = {nullptr, {}, {}, nullptr, nullptr, INVALID_SOCKET, 0, {}, false, 0, 0, false, false, 0};

// Keeps how an automatic attempt ended, once, for the clock's health. The
// clock is read after the setting: the good time and the drift's reference
// belong to the corrected clock.
void RecordOwnOutcome(bool good, bool answered, const ReplyFigures& figures, bool clockSet)
{
    if (!g_attempt.automatic)
        return;
    g_attempt.automatic = false;
    OwnOutcome outcome = {};
    outcome.finished = ReadSystemClock();
    outcome.counter = ReadMonotonicClock();
    outcome.good = good;
    outcome.answered = answered;
    outcome.clockSet = clockSet;
    outcome.lastResult = LastStatusLineId();
    if (!answered && !g_attempt.heard && outcome.lastResult == IDS_NO_VALID_REPLY)
        outcome.lastResult = IDS_NO_ADDRESS_ANSWERED; // not a single datagram: likely a firewall
    char server[65] = "";
    if (answered && GetNumericHost(g_attempt.addresses->ai_addr, int(g_attempt.addresses->ai_addrlen), server,
                                   sizeof server)
                        != 0)
        server[0] = '\0';
    outcome.server = server;
    // The offset in 100 ns; the figures hold microseconds.
    outcome.offset = LONGLONG(figures.stepMicroseconds) * 10;
    RecordOwnAttempt(g_attempt.started, outcome);
    PostMessageA(GetWindow(g_attempt.window, GW_OWNER), WM_SYNC_RECORDED, 0, 0);
}

void RecordOwnFailure()
{
    const ReplyFigures none = {};
    RecordOwnOutcome(false, false, none, false);
}

void CloseSyncSocket()
{
    if (g_attempt.socket == INVALID_SOCKET)
        return;
    closesocket(g_attempt.socket);
    g_attempt.socket = INVALID_SOCKET;
    // A notification queued for the closed socket could carry the value of
    // the next socket; none of them may reach it.
    MSG stale;
    while (PeekMessageA(&stale, g_attempt.window, WM_SYNC_SOCKET, WM_SYNC_SOCKET, PM_REMOVE)) {
    }
}

void StopAttemptActivity()
{
    KillTimer(g_attempt.window, IDT_RETRY);
    KillTimer(g_attempt.window, IDT_SERVICE_POLL);
    if (g_attempt.resolver) {
        ReleaseResolver(g_attempt.resolver); // the worker runs on and cleans up
        g_attempt.resolver = nullptr;
    }
    CloseSyncSocket();
    if (g_attempt.addresses) {
        FreeAddressList(g_attempt.addresses);
        g_attempt.addresses = nullptr;
    }
}

// A visible window keeps its lines for the user; a hidden one goes at once.
void FinishAttempt()
{
    if (IsWindowVisible(g_attempt.window))
        SetDlgItemTextA(g_attempt.window, IDCANCEL, EndedLabel);
    else
        DestroyWindow(g_attempt.window);
}

// Ends the attempt; an automatic one not yet recorded ended without a usable
// answer.
void StopAndFinish()
{
    RecordOwnFailure();
    StopAttemptActivity();
    FinishAttempt();
}

bool OpenSyncSocket()
{
    const addrinfo* server = g_attempt.addresses;
    SOCKET s = socket(server->ai_family, server->ai_socktype, server->ai_protocol);
    if (s == INVALID_SOCKET) {
        AddStatusLine(IDS_NET_INIT_FAILED);
        return false;
    }
    // Lets a broadcast address serve as the server. The socket is never bound:
    // the system picks a fresh local port at the first send, which a forger
    // must guess along with the nonce; a fixed port would also be shared by
    // every client behind one address translator.
    BOOL broadcast = TRUE;
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&broadcast), sizeof broadcast);
    if (WSAAsyncSelect(s, g_attempt.window, WM_SYNC_SOCKET, FD_READ) != 0) {
        AddStatusLine(IDS_NET_INIT_FAILED);
        closesocket(s);
        return false;
    }
    g_attempt.socket = s;
    return true;
}

// Each send carries a nonce of its own; the attempt keeps it with the time of
// the send, which the answer that echoes it is measured from.
bool SendRequest()
{
    // The lines shown so far are drawn now, not while the reply is on its
    // way: a reply that waits for drawing would count it as network delay.
    UpdateWindow(g_attempt.window);
    return SendNoncedRequest(g_attempt.socket, g_attempt.addresses, &g_attempt.sent);
}

void SendOrCloseSocket()
{
    if (!SendRequest())
        CloseSyncSocket(); // every later resend fails the same way
}

void OnNetStart()
{
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0) {
        AddStatusLine(IDS_NET_INIT_FAILED);
        FinishAttempt();
        return;
    }
    g_attempt.winsockStarted = true;
}

void OnStart(const SyncRequest* request)
{
    g_attempt.request = *request;
    lstrcpynA(g_attempt.hostName, request->Server ? request->Server : "", sizeof g_attempt.hostName);
    g_attempt.request.Server = g_attempt.hostName;
    SetDlgItemTextA(g_attempt.window, IDCANCEL, RunningLabel);
    StopAttemptActivity();
    // A test, or the window of the service's attempt, is no synchronisation
    // of the tray's own.
    g_attempt.automatic = request->Mode == Synchronise && !IsWindowVisible(g_attempt.window);
    g_attempt.heard = false;
    g_attempt.started = ReadSystemClock();

    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    g_attempt.resolver = StartResolver(g_attempt.window, WM_SYNC_RESOLVED, g_attempt.hostName, NtpService, &hints);
    if (!g_attempt.resolver) {
        AddStatusLine(IDS_NET_INIT_FAILED);
        RecordOwnFailure();
        FinishAttempt();
        return;
    }
    AddStatusLine(IDS_LOOKING_UP, g_attempt.hostName);
}

void OnResolved(WPARAM id, LPARAM result)
{
    // A late answer of an abandoned worker carries another identifier.
    if (!g_attempt.resolver || id != ResolverId(g_attempt.resolver))
        return;
    addrinfo* list = TakeResolvedList(g_attempt.resolver);
    ReleaseResolver(g_attempt.resolver);
    g_attempt.resolver = nullptr;
    if (HIWORD(result) != 0 || !list) {
        if (list)
            FreeAddressList(list);
        AddStatusLine(IDS_SERVER_NOT_FOUND);
        StopAndFinish();
        return;
    }
    g_attempt.addresses = list;
    g_attempt.sent.count = 0; // the nonces of an earlier attempt answer nothing now

    char numericHost[65];
    if (GetNumericHost(list->ai_addr, int(list->ai_addrlen), numericHost, sizeof numericHost) != 0)
        numericHost[0] = '\0';
    AddStatusLine(IDS_WAITING, numericHost);
    if (!OpenSyncSocket()) {
        StopAndFinish();
        return;
    }
    g_attempt.resendCount = 0;
    SetTimer(g_attempt.window, IDT_RETRY, RETRY_INTERVAL_MS, nullptr);
    SendOrCloseSocket();
}

void OnRetryTimer()
{
    // A tick queued before the attempt stopped finds no address to send to.
    if (!g_attempt.addresses)
        return;
    if (++g_attempt.resendCount >= MAX_SENDS) {
        AddStatusLine(IDS_NO_VALID_REPLY);
        StopAndFinish();
        return;
    }
    AddStatusLine(IDS_WAITING_RETRY, g_attempt.resendCount);
    SetTimer(g_attempt.window, IDT_RETRY, RETRY_INTERVAL_MS, nullptr);
    SendOrCloseSocket();
}

void OnSocket(WPARAM socket, LPARAM event)
{
    if (g_attempt.socket == INVALID_SOCKET || socket != g_attempt.socket || WSAGETSELECTEVENT(event) != FD_READ)
        return;
    uint8_t reply[NtpPacketSize];
    NtpTimestamp arrival;
    switch (ReceiveFromServer(g_attempt.socket, g_attempt.addresses, reply, &arrival)) {
    case NothingToReceive:
    case Dropped:
        return; // keep waiting
    case Unusable:
        g_attempt.heard = true;
        StopAndFinish();
        return;
    case Received:
        g_attempt.heard = true;
        break;
    }
    ReplyFigures figures = {};
    const ReplyVerdict verdict = ProcessReply(reply, arrival, &g_attempt.sent, &g_attempt.request, &figures);
    NoteServerVerdict(&g_serverKiss, g_attempt.hostName, verdict);
    switch (verdict) {
    case ReplyNotUsed:
        // The answer gave the time but Windows would not take it (a limited
        // user has no right to set the clock): asking again changes nothing.
        if (g_attempt.request.Mode == Synchronise && LastStatusLineId() == IDS_SYNC_FAILED) {
            RecordOwnOutcome(false, true, figures, false);
            StopAndFinish();
        }
        return; // otherwise the resends go on
    case ReplyIgnored:
        return;
    case ReplyKissRate:
    case ReplyKissDeny:
        // The server asked not to be asked again now: no resend.
        AddStatusLine(IDS_NO_VALID_REPLY);
        StopAndFinish();
        return;
    case ReplyFinished:
        // Within the tolerance the request turned into a test: not set.
        RecordOwnOutcome(true, true, figures, g_attempt.request.Mode == Synchronise);
        StopAndFinish();
        return;
    }
}

// The lines the clock service kept of its last attempt.
void ShowServiceLines()
{
    const DWORD size = 64 * 260 + 2;
    char* lines = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
    if (lines && ReadServiceLines(lines, size))
        for (const char* line = lines; *line; line += lstrlenA(line) + 1)
            AddStatusText(line);
    if (lines)
        HeapFree(GetProcessHeap(), 0, lines);
}

// The service's attempt shows once its LastAttemptTime has changed;
// SERVICE_WAIT_MS without a change count as no valid reply.
void OnServicePoll()
{
    if (ReadServiceStatusTime("LastAttemptTime") != g_attempt.serviceAttempt) {
        KillTimer(g_attempt.window, IDT_SERVICE_POLL);
        ShowServiceLines();
        // The icon and the tip tell the new result at once, not at the next minute.
        PostMessageA(GetWindow(g_attempt.window, GW_OWNER), WM_SYNC_RECORDED, 0, 0);
        FinishAttempt();
    } else if (GetTickCount() - g_attempt.serviceAsked >= SERVICE_WAIT_MS) {
        KillTimer(g_attempt.window, IDT_SERVICE_POLL);
        AddStatusLine(IDS_NO_VALID_REPLY);
        FinishAttempt();
    }
}

void OnDestroy()
{
    StopAttemptActivity();
    if (g_attempt.winsockStarted) {
        WSACleanup();
        g_attempt.winsockStarted = false;
    }
    g_attempt.window = nullptr;
}

INT_PTR CALLBACK SyncProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        g_attempt.window = window;
        g_attempt.socket = INVALID_SOCKET;
        g_attempt.resolver = nullptr;
        SendMessageA(window, WM_SYNC_NETSTART, 0, 0);
        // No focus: a hidden window must never take the keyboard (or, through
        // it, activation) from the window the user is working in.
        return FALSE;
    }
    if (!g_attempt.window || window != g_attempt.window)
        return FALSE;
    switch (message) {
    case WM_SYNC_NETSTART:
        OnNetStart();
        return TRUE;
    case WM_SYNC_START:
        OnStart(reinterpret_cast<const SyncRequest*>(lParam));
        return TRUE;
    case WM_SYNC_RESOLVED:
        OnResolved(wParam, lParam);
        return TRUE;
    case WM_SYNC_SOCKET:
        OnSocket(wParam, lParam);
        return TRUE;
    case WM_TIMER:
        if (wParam == IDT_RETRY)
            OnRetryTimer();
        else if (wParam == IDT_SERVICE_POLL)
            OnServicePoll();
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            DestroyWindow(window);
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    }
    return FALSE;
}

} // namespace

HWND SyncProgressWindow()
{
    return g_attempt.window;
}

namespace {

// The progress window for a new attempt: a hidden one is taken over, a new
// one created; false while a visible one exists or none could be made.
bool PrepareProgressWindow(HWND owner, BOOL show)
{
    if (g_attempt.window) {
        // A visible test, running or ended, is never interrupted.
        if (IsWindowVisible(g_attempt.window))
            return false;
    } else {
        CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SYNC_PROGRESS), owner, SyncProgressProc, 0);
        if (!g_attempt.window)
            return false; // Windows Sockets could not be started
    }
    if (show) {
        // Only a visible window is activated, with its first control focused.
        ShowWindow(g_attempt.window, SW_SHOW);
        HWND first = GetNextDlgTabItem(g_attempt.window, nullptr, FALSE);
        if (first)
            SendMessageA(g_attempt.window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    }
    return true;
}

} // namespace

BOOL StartSyncAttempt(HWND owner, const SyncRequest* request, BOOL show)
{
    if (!PrepareProgressWindow(owner, show))
        return FALSE;
    SendMessageA(g_attempt.window, WM_SYNC_START, 0, reinterpret_cast<LPARAM>(request));
    return TRUE;
}

BOOL ShowServiceSynchronisation(HWND owner)
{
    if (!PrepareProgressWindow(owner, TRUE))
        return FALSE;
    SetDlgItemTextA(g_attempt.window, IDCANCEL, RunningLabel);
    StopAttemptActivity(); // a hidden attempt of the tray's own is abandoned
    g_attempt.automatic = false;
    g_attempt.serviceAttempt = ReadServiceStatusTime("LastAttemptTime");
    g_attempt.serviceAsked = GetTickCount();
    // The service makes no new attempt within a minute of the last one's
    // start, nor beyond its budget or a server's hold: then the last
    // attempt's lines are the answer, at once and said to be that.
    const ULONGLONG now = ReadSystemClock();
    const bool recent = g_attempt.serviceAttempt != 0 && now >= g_attempt.serviceAttempt
                        && now - g_attempt.serviceAttempt < SERVICE_SPACING;
    const DWORD error = !ClockServiceRunning() ? ERROR_SERVICE_NOT_ACTIVE
                        : recent               ? ERROR_BUSY
                                               : SendClockServiceControl(SERVICE_CONTROL_SYNC_NOW);
    if (error != ERROR_SUCCESS) {
        if (error == ERROR_BUSY) {
            AddStatusLine(IDS_PREVIOUS_RESULT);
            ShowServiceLines();
        } else {
            AddStatusLine(error == ERROR_SERVICE_NOT_ACTIVE ? IDS_SERVICE_STOPPED : IDS_NET_INIT_FAILED);
        }
        FinishAttempt();
        return TRUE;
    }
    SetTimer(g_attempt.window, IDT_SERVICE_POLL, SERVICE_POLL_MS, nullptr);
    return TRUE;
}
