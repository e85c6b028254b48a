#include "sntp_exchange.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "../res/resource.h"
#include "ntp_time.h"
#include "request_exchange.h"
#include "resolver.h"
#include "server_address.h"
#include "status_lines.h"

namespace {

const DWORD LookupLimitMs = 30000; // a lookup that takes longer counts as "not found"
const DWORD ResendMs = 1000;
const int SendsPerAttempt = 5; // the first and four resends

enum Step { StepGoOn, StepDone, StepStopped };

struct Exchange {
    HANDLE stop;
    SyncRequest request;
    addrinfo* server;
    SOCKET socket;
    WSAEVENT readable;
    RequestLog sent;
    ExchangeResult result;
};

Step Resolve(Exchange* x, const char* name)
{
    AddStatusLine(IDS_LOOKING_UP, name);
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    ResolveRequest* lookup = StartResolver(nullptr, 0, name, "123", &hints);
    if (!lookup) {
        AddStatusLine(IDS_NET_INIT_FAILED);
        return StepDone;
    }
    // A lookup that does not return is left to its own thread.
    HANDLE waits[2] = {x->stop, ResolverEvent(lookup)};
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, LookupLimitMs);
    const bool resolved = woken == WAIT_OBJECT_0 + 1 && ResolverResult(lookup) == 0;
    x->server = resolved ? TakeResolvedList(lookup) : nullptr;
    ReleaseResolver(lookup);
    if (woken == WAIT_OBJECT_0)
        return StepStopped;
    // The service asks one host: a broadcast or multicast "server" would let
    // any host on the network answer for it.
    if (!x->server || !IsUnicastServer(x->server->ai_addr)) {
        AddStatusLine(IDS_SERVER_NOT_FOUND);
        return StepDone;
    }
    char numeric[65];
    if (GetNumericHost(x->server->ai_addr, int(x->server->ai_addrlen), numeric, sizeof numeric) != 0)
        numeric[0] = '\0';
    AddStatusLine(IDS_WAITING, numeric);
    return StepGoOn;
}

Step OpenSocket(Exchange* x)
{
    // Never bound: the system picks a fresh port, which a forger must guess.
    x->socket = socket(x->server->ai_family, x->server->ai_socktype, x->server->ai_protocol);
    x->readable = WSACreateEvent();
    if (x->socket == INVALID_SOCKET || x->readable == WSA_INVALID_EVENT
        || WSAEventSelect(x->socket, x->readable, FD_READ) != 0) {
        AddStatusLine(IDS_NET_INIT_FAILED);
        return StepDone;
    }
    return StepGoOn;
}

// Takes every datagram waiting on the socket, as the tray's attempt does.
Step ReceiveReplies(Exchange* x)
{
    WSANETWORKEVENTS events;
    WSAEnumNetworkEvents(x->socket, x->readable, &events); // resets the event
    for (;;) {
        uint8_t reply[NtpPacketSize];
        NtpTimestamp arrival;
        switch (ReceiveFromServer(x->socket, x->server, reply, &arrival)) {
        case NothingToReceive:
            return StepGoOn;
        case Dropped:
            continue;
        case Unusable:
            return StepDone;
        case Received:
            break;
        }
        switch (ProcessReply(reply, arrival, &x->sent, &x->request, &x->result.figures)) {
        case ReplyIgnored:
        case ReplyNotUsed:
            continue;
        case ReplyFinished:
            x->result.outcome = OutcomeAnswered;
            x->result.clockSet = x->request.Mode == Synchronise;
            return StepDone;
        case ReplyKissRate:
            x->result.outcome = OutcomeRate;
            AddStatusLine(IDS_NO_VALID_REPLY);
            return StepDone;
        case ReplyKissDeny:
            x->result.outcome = OutcomeDeny;
            AddStatusLine(IDS_NO_VALID_REPLY);
            return StepDone;
        }
    }
}

// Sends and resends one second apart, five sends in all, and waits for an
// answer that can be used.
Step AskServer(Exchange* x)
{
    for (int send = 0; send < SendsPerAttempt; ++send) {
        if (send > 0)
            AddStatusLine(IDS_WAITING_RETRY, send);
        SendNoncedRequest(x->socket, x->server, &x->sent);
        const ULONGLONG deadline = GetTickCount64() + ResendMs;
        for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
            HANDLE waits[2] = {x->stop, x->readable};
            const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, DWORD(deadline - now));
            if (woken == WAIT_OBJECT_0)
                return StepStopped;
            if (woken != WAIT_OBJECT_0 + 1)
                break;
            const Step step = ReceiveReplies(x);
            if (step != StepGoOn)
                return step;
        }
    }
    AddStatusLine(IDS_NO_VALID_REPLY);
    return StepDone;
}

} // namespace

ExchangeResult RunSntpExchange(const MachineSettings& settings, HANDLE stop)
{
    Exchange x = {};
    x.stop = stop;
    x.request = SyncRequest{Synchronise, settings.Server, DWORD(settings.MaxDelay), DWORD(settings.Tolerance),
                            settings.TimeShift};
    x.socket = INVALID_SOCKET;
    x.readable = WSA_INVALID_EVENT;
    x.result.outcome = OutcomeFailed;
    Step step = Resolve(&x, settings.Server);
    if (step == StepGoOn)
        step = OpenSocket(&x);
    if (step == StepGoOn)
        step = AskServer(&x);
    x.result.stopped = step == StepStopped;
    if (x.socket != INVALID_SOCKET)
        closesocket(x.socket);
    if (x.readable != WSA_INVALID_EVENT)
        WSACloseEvent(x.readable);
    if (x.server)
        FreeAddressList(x.server);
    return x.result;
}
