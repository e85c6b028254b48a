#include "wine_seams.h"

#include "clock.h"
#include "datagram.h"

WineSeams g_wineSeams;

BOOL SetSystemClock(const SYSTEMTIME* utc)
{
    g_wineSeams.settingClock.push_back(ReadSystemClock());
    g_wineSeams.clockSettings.push_back(*utc);
    g_wineSeams.settingTicks.push_back(GetTickCount());
    return TRUE;
}

bool SendDatagram(SOCKET socket, const char* data, int size, const sockaddr* address, int addressLength)
{
    return !g_wineSeams.sendsFail && sendto(socket, data, size, 0, address, addressLength) != SOCKET_ERROR;
}

int ReceiveDatagram(SOCKET socket, char* buffer, int size, sockaddr* sender, int* senderLength, int* error)
{
    int received = recvfrom(socket, buffer, size, 0, sender, senderLength);
    *error = received == SOCKET_ERROR ? WSAGetLastError() : 0;
    if (g_wineSeams.injectedReceiveError && g_wineSeams.injectedReceives != 0) {
        if (g_wineSeams.injectedReceives > 0)
            --g_wineSeams.injectedReceives;
        *error = g_wineSeams.injectedReceiveError;
        return SOCKET_ERROR;
    }
    return received;
}
