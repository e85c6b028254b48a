// Measures how exactly a sync attempt reads and sets the clock against the
// SNTP server on 127.0.0.1 (scripts/bench-sync.sh starts one whose clock is
// this machine's own): five tests and five synchronisations in the visible
// progress window, reading the delay and error lines as the user sees them,
// five exchanges of the clock service (its own code, run here on the main
// thread), and five bare request/reply round trips of a plain WSAAsyncSelect
// loop as the floor. The clock is never set: this program's clock setter only
// records the value it is given, with the clock at that moment.
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "clock.h"
#include "ntp_time.h"
#include "resource.h"
#include "sntp_exchange.h"
#include "status_texts.h"
#include "sync_attempt.h"

namespace {

const char Server[] = "127.0.0.1";
const int Runs = 5;
const UINT WM_BARE_SOCKET = WM_APP + 1;

std::vector<double> g_setDifferences; // ms: value given less the real clock

double Seconds(const NtpTimestamp& t)
{
    return t.seconds() + t.fraction() / 4294967296.0;
}

double FileTimeSeconds(uint64_t ticks)
{
    return Seconds(NtpTimestamp::fromFileTime(ticks));
}

void Pump(HWND until, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    char text[32] = {};
    while (GetTickCount() - start < timeoutMs) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        GetDlgItemTextA(until, IDCANCEL, text, sizeof text);
        if (!IsWindow(until) || strcmp(text, "閉じる") == 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// The "%lu.%03lu" figure of a line made from `format`, in ms, or -1.
double ShownMs(HWND list, const char* format)
{
    const char* number = strstr(format, "%lu");
    const int count = int(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char line[300] = {};
        SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
        unsigned long whole, ms;
        if (strncmp(line, format, size_t(number - format)) == 0
            && sscanf(line + (number - format), "%lu.%3lu", &whole, &ms) == 2)
            return whole * 1000.0 + ms;
    }
    return -1;
}

struct Worst {
    double delay = 0, error = 0, set = 0;
    void Note(double d, double e) { delay = d > delay ? d : delay; error = e > error ? e : error; }
};

bool RunAttempt(HWND owner, SyncMode mode, Worst* worst)
{
    SyncRequest request = {mode, Server, 1000, 0, 0}; // tolerance 0: every error is corrected
    if (!StartSyncAttempt(owner, &request, TRUE))
        return false;
    HWND window = SyncProgressWindow();
    Pump(window, 10000);
    HWND list = GetDlgItem(window, IDC_STATUS_LIST);
    const double delay = ShownMs(list, TEXT_ROUND_TRIP), error = ShownMs(list, TEXT_CLOCK_ERROR);
    DestroyWindow(window);
    if (delay < 0 || error < 0)
        return false;
    if (getenv("QV_BENCH_EACH"))
        printf("%s: delay %.0f ms, error %.0f ms\n", mode == Test ? "test" : "sync", delay, error);
    worst->Note(delay, error);
    return true;
}

// One exchange of the clock service, in Synchronise mode with tolerance 0.
bool ServiceExchange(HANDLE stop, Worst* worst)
{
    // bench-sync.sh gives the name three loopback addresses.
    MachineSettings settings = {"bench.test", 1, 30, 1000, 0, 0};
    const ExchangeOptions options = {nullptr, false};
    const ExchangeResult result = RunSntpExchange(settings, stop, options);
    if (!result.clockSet)
        return false;
    const double step = result.figures.stepMicroseconds / 1000.0;
    if (getenv("QV_BENCH_EACH"))
        printf("service: delay %.3f ms, error %.3f ms\n", result.figures.delayMicroseconds / 1000.0, step);
    worst->Note(result.figures.delayMicroseconds / 1000.0, step < 0 ? -step : step);
    return true;
}

// The worst magnitude among the clock settings from `first` on.
double WorstSetting(size_t first)
{
    double worst = 0;
    for (size_t i = first; i < g_setDifferences.size(); ++i) {
        const double magnitude = g_setDifferences[i] < 0 ? -g_setDifferences[i] : g_setDifferences[i];
        worst = magnitude > worst ? magnitude : worst;
    }
    return worst;
}

// One request and its reply, waited for with WSAAsyncSelect and GetMessage.
bool BareRoundTrip(HWND owner, Worst* worst)
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(123);
    to.sin_addr.s_addr = inet_addr(Server);
    WSAAsyncSelect(s, owner, WM_BARE_SOCKET, FD_READ);
    uint8_t packet[NtpPacketSize];
    const NtpTimestamp t1 = NtpTimestamp::now();
    BuildNtpRequest(t1, packet);
    sendto(s, reinterpret_cast<const char*>(packet), NtpPacketSize, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    MSG message;
    int received = 0;
    const DWORD start = GetTickCount();
    while (received != NtpPacketSize && GetTickCount() - start < 2000 && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_BARE_SOCKET)
            received = recv(s, reinterpret_cast<char*>(packet), NtpPacketSize, 0);
        else
            DispatchMessageA(&message);
    }
    const NtpTimestamp t4 = NtpTimestamp::now();
    closesocket(s);
    if (received != NtpPacketSize)
        return false;
    const double t2 = Seconds(NtpTimestamp::fromNetwork(packet + NtpReceiveOffset));
    const double t3 = Seconds(NtpTimestamp::fromNetwork(packet + NtpTransmitOffset));
    const double delay = (Seconds(t4) - Seconds(t1)) - (t3 - t2);
    const double offset = ((t2 - Seconds(t1)) + (t3 - Seconds(t4))) / 2;
    worst->Note(delay * 1000, (offset < 0 ? -offset : offset) * 1000);
    return true;
}

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

// The recording clock setter: the value given against the real clock (which
// is the server's) at the moment of the call.
BOOL SetSystemClock(const SYSTEMTIME* utc)
{
    const double now = FileTimeSeconds(ReadSystemClock());
    FILETIME given;
    SystemTimeToFileTime(utc, &given);
    const double value = FileTimeSeconds((uint64_t(given.dwHighDateTime) << 32) | given.dwLowDateTime);
    g_setDifferences.push_back((value - now) * 1000);
    return TRUE;
}

void ReadLocalClock(SYSTEMTIME* local)
{
    GetLocalTime(local);
}

int main()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = OwnerProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "QuorvaneSyncBench";
    RegisterClassA(&windowClass);
    HWND owner = CreateWindowA("QuorvaneSyncBench", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);

    Worst attempts, service, bare;
    bool ok = true;
    for (int i = 0; i < Runs; ++i)
        ok = RunAttempt(owner, Test, &attempts) && ok;
    for (int i = 0; i < Runs; ++i)
        ok = RunAttempt(owner, Synchronise, &attempts) && ok;
    attempts.set = WorstSetting(0);
    ok = ok && g_setDifferences.size() == size_t(Runs);
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (int i = 0; i < Runs; ++i)
        ok = ServiceExchange(stop, &service) && ok;
    service.set = WorstSetting(size_t(Runs));
    ok = ok && g_setDifferences.size() == size_t(2 * Runs);
    for (int i = 0; i < Runs; ++i)
        ok = BareRoundTrip(owner, &bare) && ok;

    printf("| loopback, %d runs each | worst delay | worst error | worst clock set vs server |\n", Runs);
    printf("|---|---|---|---|\n");
    printf("| quorvane's attempt (shown, ms) | %.3f | %.3f | %.3f |\n", attempts.delay, attempts.error, attempts.set);
    printf("| the clock service's exchange, 3 servers (measured, ms) | %.3f | %.3f | %.3f |\n", service.delay, service.error,
           service.set);
    printf("| bare WSAAsyncSelect round trip (floor, ms) | %.3f | %.3f | - |\n", bare.delay, bare.error);
    if (!ok)
        printf("some runs failed: is the SNTP server running on %s?\n", Server);
    WSACleanup();
    DestroyWindow(owner);
    return ok ? 0 : 1;
}
