#include "test_servers.h"

#include <cstdlib>
#include <cstring>

#include "ntp_time.h"

namespace {

bool BindLoopback(SOCKET* out, const char* address, const char* port)
{
    addrinfo hints = {};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(address, port, &hints, &list) != 0)
        return false;
    SOCKET s = socket(list->ai_family, SOCK_DGRAM, 0);
    bool bound = s != INVALID_SOCKET && bind(s, list->ai_addr, int(list->ai_addrlen)) == 0;
    freeaddrinfo(list);
    if (!bound) {
        if (s != INVALID_SOCKET)
            closesocket(s);
        return false;
    }
    DWORD timeout = 50; // lets the thread notice Stop
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    *out = s;
    return true;
}

void StopThread(SOCKET* s, HANDLE* thread, volatile LONG* stop)
{
    if (!*thread)
        return;
    InterlockedExchange(stop, 1);
    WaitForSingleObject(*thread, 5000);
    CloseHandle(*thread);
    *thread = nullptr;
    closesocket(*s);
    *s = INVALID_SOCKET;
    WSACleanup();
}

} // namespace

bool SntpTestServer::Start(const char* address, SntpBehaviour behaviour, int offsetSeconds)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    if (!lockReady_) {
        InitializeCriticalSection(&lock_);
        lockReady_ = true;
    }
    behaviour_ = behaviour;
    offsetSeconds_ = offsetSeconds;
    if (!BindLoopback(&socket_, address, "123")) {
        WSACleanup();
        return false;
    }
    stop_ = 0;
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    return thread_ != nullptr;
}

void SntpTestServer::Stop()
{
    StopThread(&socket_, &thread_, &stop_);
}

std::vector<DWORD> SntpTestServer::RequestTicks()
{
    EnterCriticalSection(&lock_);
    std::vector<DWORD> copy = ticks_;
    LeaveCriticalSection(&lock_);
    return copy;
}

std::vector<unsigned long long> SntpTestServer::RequestTransmitTimes()
{
    EnterCriticalSection(&lock_);
    std::vector<unsigned long long> copy = transmits_;
    LeaveCriticalSection(&lock_);
    return copy;
}

DWORD WINAPI SntpTestServer::Run(void* self)
{
    SntpTestServer* server = static_cast<SntpTestServer*>(self);
    while (!server->stop_) {
        char request[128];
        sockaddr_storage from;
        int fromLength = sizeof from;
        int received = recvfrom(server->socket_, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from),
                                &fromLength);
        if (received < NtpPacketSize)
            continue;
        server->Answer(request, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
    return 0;
}

void SntpTestServer::Answer(const char* request, const sockaddr* from, int fromLength)
{
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(request);
    EnterCriticalSection(&lock_);
    ticks_.push_back(GetTickCount());
    NtpTimestamp transmit = NtpTimestamp::fromNetwork(bytes + NtpTransmitOffset);
    transmits_.push_back((unsigned long long)transmit.seconds() << 32 | transmit.fraction());
    LeaveCriticalSection(&lock_);
    if (behaviour_ == SntpBehaviour::Silent)
        return;

    const SntpBehaviour behaviour = behaviour_;
    uint8_t reply[68];
    memset(reply, 0x55, sizeof reply);
    memset(reply, 0, NtpPacketSize);
    const bool alarm = behaviour == SntpBehaviour::AlarmThenAnswer && replies_ == 0;
    reply[0] = alarm ? 0xDC : 0x1C; // LI 3 or 0, VN 3, Mode 4 (server)
    reply[1] = 1;                    // stratum
    reply[3] = 0xEC;                 // precision -20
    memcpy(reply + 12, "LOCL", 4);
    NtpTimestamp now = NtpTimestamp::now();
    now.add(NtpTimestamp(uint32_t(offsetSeconds_), 0));
    const int offsetMs = offsetMs_, magnitude = offsetMs < 0 ? -offsetMs : offsetMs;
    const NtpTimestamp shift(uint32_t(magnitude / 1000), uint32_t((uint64_t(magnitude % 1000) << 32) / 1000));
    if (offsetMs >= 0)
        now.add(shift);
    else
        now.subtract(shift);
    NtpTimestamp server(now.seconds(), now.fraction());
    server.toNetwork(reply + 16);
    memcpy(reply + NtpOriginateOffset, request + NtpTransmitOffset, 8);
    server.toNetwork(reply + NtpReceiveOffset);
    server.toNetwork(reply + NtpTransmitOffset);
    switch (behaviour) {
    case SntpBehaviour::WrongOriginate: reply[NtpOriginateOffset + 7] ^= 1; break;
    case SntpBehaviour::KissRate:
        reply[0] = 0xDC;
        reply[1] = 0;
        memcpy(reply + 12, "RATE", 4);
        break;
    case SntpBehaviour::Stratum16: reply[1] = 16; break;
    case SntpBehaviour::ClientMode: reply[0] = 0x1B; break;
    case SntpBehaviour::ZeroTransmit: memset(reply + NtpTransmitOffset, 0, 8); break;
    case SntpBehaviour::ForgedFirst: {
        // Someone else on the path, who saw the request: the same address,
        // another port.
        SOCKET forger = socket(from->sa_family, SOCK_DGRAM, 0);
        uint8_t forged[NtpPacketSize];
        memcpy(forged, reply, sizeof forged);
        NtpTimestamp(server.seconds() + 1000, server.fraction()).toNetwork(forged + NtpTransmitOffset);
        NtpTimestamp(server.seconds() + 1000, server.fraction()).toNetwork(forged + NtpReceiveOffset);
        sendto(forger, "0123456789", 10, 0, from, fromLength);
        sendto(forger, reinterpret_cast<const char*>(forged), sizeof forged, 0, from, fromLength);
        closesocket(forger);
        break;
    }
    default: break;
    }
    ++replies_;
    int length = behaviour == SntpBehaviour::Oversized ? 68 : NtpPacketSize;
    sendto(socket_, reinterpret_cast<const char*>(reply), length, 0, from, fromLength);
}

namespace {

struct DelayedAnswer {
    SOCKET socket;
    int delayMs;
    char packet[512];
    int length;
    sockaddr_storage to;
    int toLength;
};

DWORD WINAPI SendLater(void* argument)
{
    DelayedAnswer* answer = static_cast<DelayedAnswer*>(argument);
    Sleep(answer->delayMs);
    sendto(answer->socket, answer->packet, answer->length, 0, reinterpret_cast<sockaddr*>(&answer->to),
           answer->toLength);
    delete answer;
    return 0;
}

} // namespace

bool DnsTestServer::Start(int slowMs)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    slowMs_ = slowMs;
    if (!BindLoopback(&socket_, "127.0.0.1", "53")) {
        WSACleanup();
        return false;
    }
    stop_ = 0;
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    return thread_ != nullptr;
}

void DnsTestServer::Stop()
{
    StopThread(&socket_, &thread_, &stop_);
}

DWORD WINAPI DnsTestServer::Run(void* self)
{
    DnsTestServer* server = static_cast<DnsTestServer*>(self);
    while (!server->stop_) {
        DelayedAnswer* answer = new DelayedAnswer();
        answer->toLength = sizeof answer->to;
        int received = recvfrom(server->socket_, answer->packet, sizeof answer->packet, 0,
                                reinterpret_cast<sockaddr*>(&answer->to), &answer->toLength);
        if (received < 13) {
            delete answer;
            continue;
        }
        // Same id and question; flags: response, recursion available, NXDOMAIN;
        // no answer, authority or additional records.
        answer->packet[2] = char(0x81);
        answer->packet[3] = char(0x83);
        memset(answer->packet + 6, 0, 6);
        int end = 12; // the question's name, then its type and class
        while (end < received && answer->packet[end] != 0)
            end += (unsigned char)answer->packet[end] + 1;
        answer->length = end + 5 <= received ? end + 5 : received;
        answer->socket = server->socket_;
        const bool slow = answer->packet[12] >= 4 && _strnicmp(answer->packet + 13, "slow", 4) == 0;
        // "slowhost..." exists: its address is 127.0.0.1, and it has no other.
        if (answer->packet[12] >= 8 && _strnicmp(answer->packet + 13, "slowhost", 8) == 0 && end + 5 <= received
            && end + 21 <= int(sizeof answer->packet)) {
            answer->packet[3] = char(0x80); // no error
            const bool typeA = answer->packet[end + 1] == 0 && answer->packet[end + 2] == 1;
            if (typeA) {
                static const char record[] = {char(0xC0), 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 127, 0, 0, 1};
                memcpy(answer->packet + answer->length, record, sizeof record);
                answer->length += sizeof record;
                answer->packet[7] = 1; // one answer
            }
        }
        answer->delayMs = slow ? server->slowMs_ : 0;
        HANDLE sender = CreateThread(nullptr, 0, SendLater, answer, 0, nullptr);
        if (sender)
            CloseHandle(sender);
        else
            delete answer;
    }
    return 0;
}

bool InPrivateNetwork()
{
    const char* flag = getenv("QV_PRIVATE_NETWORK");
    return flag && strcmp(flag, "1") == 0;
}
