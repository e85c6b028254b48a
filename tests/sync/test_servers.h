// Test servers that run inside a Wine test, on loopback only: an SNTP server
// with scripted behaviour and a DNS server that knows no names.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <vector>

enum class SntpBehaviour {
    Answer,        // 48-byte reply with the current time plus `offsetSeconds`
    Silent,        // receives and never answers
    Oversized,     // a 68-byte reply (NTP with an authenticator)
    AlarmThenAnswer, // first reply with leap indicator 3, later ones normal
    ForgedFirst,   // from another port, first 10 bytes, then a reply 1000 s off, then the real reply
    WrongOriginate, // replies that echo another originate timestamp
    KissRate,      // stratum 0, kiss code "RATE"
    Stratum16,     // an unsynchronised server
    ClientMode,    // Mode 3 instead of 4
    ZeroTransmit,  // a transmit timestamp of 0
};

class SntpTestServer {
public:
    // Binds `address` (numeric, IPv4 or IPv6) port 123.
    bool Start(const char* address, SntpBehaviour behaviour, int offsetSeconds = 0);
    void Stop();
    ~SntpTestServer() { Stop(); }
    // Wine binds a UDP socket on a loopback address to every address, so one
    // server serves all of 127.0.0.0/8 and changes its behaviour instead.
    void SetBehaviour(SntpBehaviour behaviour) { behaviour_ = behaviour; }
    // The server's clock runs this many milliseconds ahead of the machine's.
    void SetOffsetMs(int offsetMs) { offsetMs_ = offsetMs; }

    // Tick counts and transmit timestamps of every request received.
    std::vector<DWORD> RequestTicks();
    std::vector<unsigned long long> RequestTransmitTimes();

private:
    static DWORD WINAPI Run(void* self);
    void Answer(const char* request, const sockaddr* from, int fromLength);

    SOCKET socket_ = INVALID_SOCKET;
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    volatile SntpBehaviour behaviour_ = SntpBehaviour::Answer;
    int offsetSeconds_ = 0;
    volatile int offsetMs_ = 0;
    int replies_ = 0;
    CRITICAL_SECTION lock_;
    bool lockReady_ = false;
    std::vector<DWORD> ticks_;
    std::vector<unsigned long long> transmits_;
};

// Answers every query for a name with "no such name" (NXDOMAIN), except that
// names starting with "slowhost" have the address 127.0.0.1; names that start
// with "slow" are answered only after `slowMs` milliseconds.
class DnsTestServer {
public:
    bool Start(int slowMs);
    void Stop();
    ~DnsTestServer() { Stop(); }

private:
    static DWORD WINAPI Run(void* self);
    SOCKET socket_ = INVALID_SOCKET;
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    int slowMs_ = 0;
};

// True when the tests run in their own network namespace with the fake
// resolver, so that names may be looked up without reaching a real server.
bool InPrivateNetwork();
