#include "request_exchange.h"

#include "../res/resource.h"
#include "datagram.h"
#include "request_nonce.h"
#include "server_address.h"
#include "status_lines.h"

namespace {

const int SendCalls = 5;

} // namespace

bool TrySendNoncedRequest(SOCKET socket, const sockaddr* address, int addressLength, RequestLog* log)
{
    uint8_t nonce[8];
    MakeRequestNonce(nonce);
    uint8_t packet[NtpPacketSize];
    BuildNtpRequest(NtpTimestamp::fromNetwork(nonce), packet);
    for (int call = 0; call < SendCalls; ++call) {
        const NtpTimestamp sentAt = NtpTimestamp::now();
        if (SendDatagram(socket, reinterpret_cast<const char*>(packet), NtpPacketSize, address, addressLength)) {
            LogRequest(log, nonce, sentAt);
            return true;
        }
    }
    return false;
}

bool SendNoncedRequest(SOCKET socket, const addrinfo* server, RequestLog* log)
{
    if (TrySendNoncedRequest(socket, server->ai_addr, int(server->ai_addrlen), log))
        return true;
    AddStatusLine(IDS_SEND_FAILED);
    return false;
}

DatagramKind TakeDatagram(SOCKET socket, const sockaddr* server, uint8_t reply[NtpPacketSize],
                          NtpTimestamp* arrival, int* error)
{
    sockaddr_storage sender = {};
    int senderLength = sizeof sender;
    const int received = ReceiveDatagram(socket, reinterpret_cast<char*>(reply), NtpPacketSize,
                                         reinterpret_cast<sockaddr*>(&sender), &senderLength, error);
    *arrival = NtpTimestamp::now();
    if (received == SOCKET_ERROR && *error == WSAEWOULDBLOCK)
        return DatagramNone; // Windows may notify FD_READ with no datagram queued
    const bool datagram = received != SOCKET_ERROR || *error == WSAEMSGSIZE;
    if (datagram && !IsReplyFromServer(server, reinterpret_cast<const sockaddr*>(&sender), senderLength))
        return DatagramDropped;
    if (received == SOCKET_ERROR) {
        if (*error == WSAEMSGSIZE)
            return DatagramWrongSize;
        // Windows reports an ICMP error for the peer on the next receive.
        if (*error == WSAECONNRESET || *error == WSAENETRESET || *error == WSAEHOSTUNREACH
            || *error == WSAENETUNREACH)
            return DatagramIcmp;
        return DatagramError;
    }
    if (received != NtpPacketSize) {
        *error = 0;
        return DatagramWrongSize;
    }
    return DatagramReceived;
}

ReceiveResult ReceiveFromServer(SOCKET socket, const addrinfo* server, uint8_t reply[NtpPacketSize],
                                NtpTimestamp* arrival)
{
    int error = 0;
    switch (TakeDatagram(socket, server->ai_addr, reply, arrival, &error)) {
    case DatagramReceived:
        return Received;
    case DatagramNone:
        return NothingToReceive;
    case DatagramDropped:
        return Dropped;
    case DatagramWrongSize:
        // A longer datagram gives WSAEMSGSIZE, a shorter one its length.
        AddStatusLine(IDS_INVALID_REPLY, error ? error : int(InvalidLength));
        return Unusable;
    case DatagramIcmp:
        if (error == WSAECONNRESET) {
            AddStatusLine(IDS_CONNECTION_REFUSED); // the server's port is closed
            return Unusable;
        }
        break;
    case DatagramError:
        break;
    }
    AddStatusLine(IDS_INVALID_REPLY, error);
    return Unusable;
}
