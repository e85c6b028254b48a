#include "sntp_exchange.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "../res/resource.h"
#include "clock.h"
#include "ntp_time.h"
#include "request_exchange.h"
#include "resolver.h"
#include "server_address.h"
#include "status_lines.h"

namespace {

const DWORD LookupLimitMs = 30000; // a lookup that takes longer counts as "not found"
const DWORD ResendMs = 3000;       // one resend to the addresses still silent
const DWORD AttemptMs = 6000;      // from the first send to the end of the attempt
const int SendsPerAddress = 2;
const int DatagramsPerWake = 16;   // then the stop event and the deadline are looked at again
const int64_t TicksPerMs = 10000;

enum Step { StepGoOn, StepDone, StepStopped };

enum PeerState {
    PeerWaiting,     // asked, no answer yet
    PeerUsable,      // `measure` holds its answer
    PeerUnusable,    // `problem` says why
    PeerKiss,        // RATE, DENY or RSTR (in `problem`)
    PeerUnreachable, // no socket of its family, or no route to it
};

struct Peer {
    sockaddr_storage address;
    int addressLength;
    char numeric[64];
    SOCKET socket;    // only while it waits: closed with the verdict
    RequestLog log;
    int sends;
    int delivered;    // requests the system took
    int judged;       // genuine answers judged (each echoed one of its nonces)
    PeerState state;
    bool genuine;     // a reply echoed one of its nonces
    AnswerMeasure measure;
    uint64_t counterAtArrival; // ReadMonotonicClock when its usable answer arrived
    char problem[24]; // why its answer is unusable, or the last datagram that was no answer
};

struct Exchange {
    HANDLE stop;
    const MachineSettings* settings;
    ExchangeOptions options;
    Peer peers[MaxServerAddresses];
    int count;
    int nextReceive; // where the next receive pass starts: no address holds the budget
    WSAEVENT readable;
    ExchangeResult result;
};

// The build date as a FILETIME count: a clock that reads earlier is wrong
// for certain (a dead clock battery), and one source may set it.
constexpr int BuildMonth()
{
    const char* months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    for (int m = 0; m < 12; ++m)
        if (__DATE__[0] == months[3 * m] && __DATE__[1] == months[3 * m + 1] && __DATE__[2] == months[3 * m + 2])
            return m + 1;
    return 1;
}

constexpr int Digit(char c)
{
    return c == ' ' ? 0 : c - '0';
}

constexpr uint64_t BuildTicks()
{
    const int year = Digit(__DATE__[7]) * 1000 + Digit(__DATE__[8]) * 100 + Digit(__DATE__[9]) * 10
                     + Digit(__DATE__[10]);
    const int month = BuildMonth(), day = Digit(__DATE__[4]) * 10 + Digit(__DATE__[5]);
    // Days from 1601-01-01 (days-from-civil, March-based years).
    const int y = month <= 2 ? year - 1 : year;
    const int era = y / 400, yoe = y - era * 400;
    const int doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t daysFrom1970 = int64_t(era) * 146097 + doe - 719468;
    return uint64_t(daysFrom1970 + 134774) * 86400 * 10000000ull;
}

// A signed count of 100-ns units as seconds with three decimals, as the
// round trip and the clock error are shown: "+0.300", "-3600.000", "0.012";
// without `sign` a negative count still shows its "-".
void FormatSeconds(char (&out)[24], int64_t ticks, bool sign)
{
    const uint64_t magnitude = uint64_t(ticks < 0 ? -ticks : ticks) / TicksPerMs;
    // At most a sign, 10 digits, the point and 3 digits.
    wsprintfA(out, "%s%lu.%03lu", ticks < 0 ? "-" : sign ? "+" : "", (unsigned long)(magnitude / 1000),
               (unsigned long)(magnitude % 1000));
}

// The verdict on an address is final: its socket goes at once, so that
// nothing more is read from it and it can no longer take the receive budget.
void Finish(Peer* peer, PeerState state)
{
    peer->state = state;
    if (peer->socket != INVALID_SOCKET) {
        closesocket(peer->socket);
        peer->socket = INVALID_SOCKET;
    }
}

bool AlreadyListed(const Exchange* x, const addrinfo* address)
{
    for (int i = 0; i < x->count; ++i)
        if (x->peers[i].addressLength == int(address->ai_addrlen)
            && memcmp(&x->peers[i].address, address->ai_addr, address->ai_addrlen) == 0)
            return true;
    return false;
}

// Every unicast address of the name, in the resolver's order, each once.
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
    addrinfo* list = resolved ? TakeResolvedList(lookup) : nullptr;
    ReleaseResolver(lookup);
    if (woken == WAIT_OBJECT_0) {
        if (list)
            FreeAddressList(list);
        return StepStopped;
    }
    // A broadcast or multicast "server" would let any host answer for it.
    for (const addrinfo* a = list; a && x->count < MaxServerAddresses; a = a->ai_next) {
        if (!IsUnicastServer(a->ai_addr) || a->ai_addrlen > sizeof(sockaddr_storage) || AlreadyListed(x, a))
            continue;
        Peer& peer = x->peers[x->count++];
        memcpy(&peer.address, a->ai_addr, a->ai_addrlen);
        peer.addressLength = int(a->ai_addrlen);
        if (GetNumericHost(a->ai_addr, int(a->ai_addrlen), peer.numeric, sizeof peer.numeric) != 0)
            lstrcpynA(peer.numeric, "?", sizeof peer.numeric);
    }
    if (list)
        FreeAddressList(list);
    if (x->count == 0) {
        AddStatusLine(IDS_SERVER_NOT_FOUND);
        return StepDone;
    }
    return StepGoOn;
}

// One socket per address, connected to it: the system binds each to a fresh
// port of its own, and an ICMP error can only concern that address.
void OpenSockets(Exchange* x)
{
    for (int i = 0; i < x->count; ++i) {
        Peer& peer = x->peers[i];
        peer.socket = INVALID_SOCKET;
        const char* code = x->options.schedule ? ScheduleAddressDropped(x->options.schedule, peer.numeric) : nullptr;
        if (code) {
            peer.state = PeerKiss;
            lstrcpynA(peer.problem, code, sizeof peer.problem);
            continue;
        }
        const sockaddr* address = reinterpret_cast<const sockaddr*>(&peer.address);
        peer.socket = socket(address->sa_family, SOCK_DGRAM, IPPROTO_UDP);
        // Non-blocking before anything else: a socket that a failed connect
        // left bound must never block a read.
        u_long nonBlocking = 1;
        if (peer.socket == INVALID_SOCKET || ioctlsocket(peer.socket, FIONBIO, &nonBlocking) != 0
            || connect(peer.socket, address, peer.addressLength) != 0
            || WSAEventSelect(peer.socket, x->readable, FD_READ) != 0)
            Finish(&peer, PeerUnreachable);
    }
}

void Send(Peer* peer)
{
    ++peer->sends;
    if (TrySendNoncedRequest(peer->socket, reinterpret_cast<const sockaddr*>(&peer->address), peer->addressLength,
                             &peer->log)) {
        ++peer->delivered;
    } else {
        const int error = WSAGetLastError();
        if (error == WSAENETUNREACH || error == WSAEHOSTUNREACH || error == WSAEAFNOSUPPORT
            || error == WSAEADDRNOTAVAIL)
            Finish(peer, PeerUnreachable);
    }
}

// Takes the datagrams waiting on the peer's socket, up to the wake-up's
// share, until its verdict is final.
void TakeWaiting(Exchange* x, Peer* peer, int* taken)
{
    while (*taken < DatagramsPerWake && peer->state == PeerWaiting) {
        uint8_t reply[NtpPacketSize];
        NtpTimestamp arrival;
        int error = 0;
        const DatagramKind datagram = TakeDatagram(peer->socket, reinterpret_cast<const sockaddr*>(&peer->address),
                                                   reply, &arrival, &error);
        const uint64_t counter = ReadMonotonicClock();
        if (datagram == DatagramNone || datagram == DatagramError)
            return; // nothing more now; a lasting error: the deadline ends the wait
        ++*taken;
        switch (datagram) {
        default: // dropped
            continue;
        // Nobody proved these came from the server: they are noted, never
        // believed, and the address's genuine answer is still awaited.
        // A judged answer keeps its own reason.
        case DatagramWrongSize:
            if (peer->judged == 0)
                lstrcpynA(peer->problem, "48 bytes expected", sizeof peer->problem);
            continue;
        case DatagramIcmp:
            if (peer->judged == 0)
                lstrcpynA(peer->problem, "ICMP", sizeof peer->problem);
            continue;
        case DatagramReceived:
            break;
        }
        const AnswerKind kind = JudgeAnswer(reply, arrival, &peer->log, DWORD(x->settings->MaxDelay),
                                            x->settings->TimeShift, &peer->measure);
        if (kind == AnswerIgnored)
            continue;
        peer->genuine = true;
        ++peer->judged;
        if (kind == AnswerUsable) {
            peer->counterAtArrival = counter;
            Finish(peer, PeerUsable);
            return;
        }
        lstrcpynA(peer->problem, peer->measure.why, sizeof peer->problem);
        // A slow answer leaves the address waiting while another answer may
        // still come (the resend, or the answer to it): that one may be fast.
        if (kind == AnswerSlow && (peer->sends < SendsPerAddress || peer->judged < peer->delivered))
            continue;
        Finish(peer, kind == AnswerUnusable || kind == AnswerSlow ? PeerUnusable : PeerKiss);
        if (kind == AnswerKissRate)
            x->result.outcome = OutcomeRate;
        if (kind == AnswerKissDeny && x->result.deniedCount < MaxServerAddresses) {
            lstrcpynA(x->result.deniedCode[x->result.deniedCount], peer->measure.why, sizeof x->result.deniedCode[0]);
            lstrcpynA(x->result.denied[x->result.deniedCount++], peer->numeric, sizeof x->result.denied[0]);
        }
    }
}

bool Waiting(const Exchange* x)
{
    for (int i = 0; i < x->count; ++i)
        if (x->peers[i].state == PeerWaiting)
            return true;
    return false;
}

// One request to every address at once, one resend 3 s later to those still
// silent, and an end 6 s after the first send or when all are judged.
Step AskAddresses(Exchange* x)
{
    for (int i = 0; i < x->count; ++i)
        if (x->peers[i].state == PeerWaiting)
            Send(&x->peers[i]);
    const ULONGLONG first = GetTickCount64();
    bool resent = false;
    while (Waiting(x)) {
        const ULONGLONG now = GetTickCount64();
        if (now >= first + AttemptMs)
            break;
        if (!resent && now >= first + ResendMs) {
            resent = true;
            for (int i = 0; i < x->count; ++i)
                if (x->peers[i].state == PeerWaiting && x->peers[i].sends < SendsPerAddress)
                    Send(&x->peers[i]);
            continue;
        }
        const ULONGLONG until = resent ? first + AttemptMs : first + ResendMs;
        HANDLE waits[2] = {x->stop, x->readable};
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, DWORD(until - now));
        if (woken == WAIT_OBJECT_0)
            return StepStopped;
        if (woken == WAIT_FAILED)
            break; // as at the deadline, rather than spin until it
        if (woken != WAIT_OBJECT_0 + 1)
            continue;
        WSAResetEvent(x->readable);
        // Only the sockets of waiting addresses, all registered with the
        // event, are read; each pass starts after the address where the
        // last one stopped.
        int taken = 0;
        const int first = x->nextReceive;
        for (int n = 0; n < x->count && taken < DatagramsPerWake; ++n) {
            const int i = (first + n) % x->count;
            if (x->peers[i].state != PeerWaiting || x->peers[i].socket == INVALID_SOCKET)
                continue;
            TakeWaiting(x, &x->peers[i], &taken);
            x->nextReceive = (i + 1) % x->count;
        }
        if (taken >= DatagramsPerWake)
            WSASetEvent(x->readable); // more may wait: look again after the checks
    }
    return StepGoOn;
}

void ShowAddressLine(const Peer& peer, bool falseticker)
{
    char delay[24], offset[24];
    switch (peer.state) {
    case PeerUsable:
        if (falseticker) {
            AddStatusLine(IDS_ADDRESS_FALSETICKER, peer.numeric);
            return;
        }
        FormatSeconds(delay, peer.measure.delay, false); // "-0.001" for one just below 0
        FormatSeconds(offset, peer.measure.offset, true);
        AddStatusLine(IDS_ADDRESS_ANSWER, peer.numeric, delay, offset);
        return;
    case PeerWaiting:
        if (peer.problem[0])
            AddStatusLine(IDS_ADDRESS_UNUSABLE, peer.numeric, peer.problem);
        else
            AddStatusLine(IDS_ADDRESS_SILENT, peer.numeric);
        return;
    case PeerUnusable:
    case PeerKiss:
        AddStatusLine(IDS_ADDRESS_UNUSABLE, peer.numeric, peer.problem);
        return;
    case PeerUnreachable:
        AddStatusLine(IDS_ADDRESS_UNREACHABLE, peer.numeric);
        return;
    }
}

// Sets the clock to a UTC FILETIME count.
bool SetClockTo(uint64_t target)
{
    if (!EnableSystemTimePrivilege())
        return false;
    // Half a millisecond: SYSTEMTIME holds whole milliseconds.
    SYSTEMTIME utc;
    FileTimeToUtcCalendar(target + 5000, &utc);
    return SetSystemClock(&utc) != 0;
}

// The answer's time carried forward to now by the monotonic counter. If
// someone else (Windows Time, a user) set the clock since the answer came,
// the offset no longer applies: adding it would step the clock twice.
void SetClockFromAnswer(Exchange* x, const Peer& chosen)
{
    uint64_t target;
    if (!CarryForward(chosen.measure.arrival, chosen.counterAtArrival, chosen.measure.offset, ReadSystemClock(),
                      ReadMonotonicClock(), &target)) {
        AddStatusLine(IDS_CLOCK_MOVED);
        x->result.outcome = OutcomeFailed; // asked again as after a failure: a minute later at first
        return;
    }
    x->result.clockSet = SetClockTo(target);
    AddStatusLine(x->result.clockSet ? IDS_SYNC_SUCCEEDED : IDS_SYNC_FAILED);
}

// Whether a request went out to any address at all.
bool AnyAddressAsked(const Exchange* x)
{
    for (int i = 0; i < x->count; ++i)
        if (x->peers[i].delivered > 0)
            return true;
    return false;
}

// The per-address lines, the agreement, and the clock setting.
void Conclude(Exchange* x)
{
    UsableAnswer answers[MaxServerAddresses];
    int index[MaxServerAddresses];
    int usable = 0;
    bool genuine = false;
    for (int i = 0; i < x->count; ++i) {
        const Peer& peer = x->peers[i];
        genuine = genuine || peer.genuine;
        if (peer.state == PeerUsable) {
            answers[usable] = UsableAnswer{peer.measure.offset, peer.measure.delay};
            index[usable++] = i;
        }
    }
    const Selection selection = SelectAnswer(answers, usable, ClockFacts{ReadSystemClock(), BuildTicks()});
    for (int i = 0, u = 0; i < x->count; ++i) {
        const bool isUsable = x->peers[i].state == PeerUsable;
        const bool falseticker = isUsable && selection.truechimers > 0 && !selection.truechimer[u];
        ShowAddressLine(x->peers[i], falseticker);
        u += isUsable;
    }
    x->result.usable = usable > 0;
    if (usable == 0) {
        // Nothing at all came back: most likely UDP port 123 is blocked.
        // Where nothing could even be sent, the firewall is not the reason.
        AddStatusLine(genuine || !AnyAddressAsked(x) ? IDS_NO_VALID_REPLY : IDS_NO_ADDRESS_ANSWERED);
        return;
    }
    if (x->result.outcome != OutcomeRate)
        x->result.outcome = OutcomeAnswered;
    if (selection.outcome == SelectionNoAgreement) {
        AddStatusLine(IDS_NO_AGREEMENT);
        return;
    }
    AddStatusLine(IDS_SERVERS_AGREE, usable, selection.truechimers);
    const Peer& chosen = x->peers[index[selection.chosen]];
    x->result.chosen = true;
    x->result.offset = chosen.measure.offset;
    lstrcpynA(x->result.server, chosen.numeric, sizeof x->result.server);
    const int64_t offset = chosen.measure.offset;
    x->result.figures.stepMicroseconds = offset / 10;
    x->result.figures.delayMicroseconds = uint32_t(chosen.measure.delay > 0 ? chosen.measure.delay / 10 : 0);
    if (selection.outcome == SelectionStepTooLarge) {
        char seconds[24];
        FormatSeconds(seconds, offset, true);
        AddStatusLine(IDS_STEP_TOO_LARGE, seconds);
        return;
    }
    if (x->options.standAside)
        return; // the caller ends it standing aside
    SYSTEMTIME obtained;
    FileTimeToUtcCalendar(chosen.measure.arrival + uint64_t(offset), &obtained);
    AddStatusLine(IDS_TIME_OBTAINED, int(obtained.wYear), int(obtained.wMonth), int(obtained.wDay),
                  int(obtained.wHour), int(obtained.wMinute), int(obtained.wSecond), int(obtained.wMilliseconds));
    const int64_t magnitude = offset < 0 ? -offset : offset;
    if (magnitude < int64_t(x->settings->Tolerance) * TicksPerMs) {
        AddStatusLine(IDS_TEST_COMPLETED); // too small to correct
        return;
    }
    SetClockFromAnswer(x, chosen);
}

// Every address that is asked at all sent DENY or RSTR, now or before.
bool EveryAddressDenied(const Exchange* x)
{
    int denied = 0, asked = 0;
    for (int i = 0; i < x->count; ++i) {
        if (x->peers[i].state == PeerUnreachable)
            continue;
        ++asked;
        denied += x->peers[i].state == PeerKiss && lstrcmpA(x->peers[i].problem, "RATE") != 0;
    }
    return asked > 0 && denied == asked;
}

// About 3 KB: kept off the worker's stack. One attempt runs at a time.
Exchange g_exchange;

} // namespace

ExchangeResult RunSntpExchange(const MachineSettings& settings, HANDLE stop, const ExchangeOptions& options)
{
    Exchange& x = g_exchange;
    x = Exchange{};
    x.stop = stop;
    x.settings = &settings;
    x.options = options;
    x.result.outcome = OutcomeFailed;
    x.readable = WSACreateEvent();
    Step step = x.readable == WSA_INVALID_EVENT ? StepDone : Resolve(&x, settings.Server);
    if (x.readable == WSA_INVALID_EVENT)
        AddStatusLine(IDS_NET_INIT_FAILED);
    if (step == StepGoOn) {
        OpenSockets(&x);
        step = AskAddresses(&x);
    }
    if (step == StepGoOn) {
        Conclude(&x);
        if (EveryAddressDenied(&x))
            x.result.outcome = OutcomeDeny;
    }
    x.result.stopped = step == StepStopped;
    // A domain member's attempt always ends standing aside, whatever the
    // servers did: the domain keeps this clock, not the servers.
    if (options.standAside && !x.result.stopped)
        AddStatusLine(IDS_DOMAIN_TIME);
    for (int i = 0; i < x.count; ++i)
        if (x.peers[i].socket != INVALID_SOCKET)
            closesocket(x.peers[i].socket);
    if (x.readable != WSA_INVALID_EVENT)
        WSACloseEvent(x.readable);
    return x.result;
}
