#include "request_exchange.h"

#include "../res/resource.h"
#include "datagram.h"
#include "request_nonce.h"
#include "server_address.h"
#include "status_lines.h"

namespace {

const int SendCalls = 5;

} // namespace

bool SendNoncedRequest(SOCKET socket, const addrinfo* server, RequestLog* log)
{
    uint8_t nonce[8];
    MakeRequestNonce(nonce);
    uint8_t packet[NtpPacketSize];
    BuildNtpRequest(NtpTimestamp::fromNetwork(nonce), packet);
    for (int call = 0; call < SendCalls; ++call) {
        const NtpTimestamp sentAt = NtpTimestamp::now();
        if (SendDatagram(socket, reinterpret_cast<const char*>(packet), NtpPacketSize, server->ai_addr,
                         int(server->ai_addrlen))) {
            LogRequest(log, nonce, sentAt);
            return true;
        }
    }
    AddStatusLine(IDS_SEND_FAILED);
    return false;
}

ReceiveResult ReceiveFromServer(SOCKET socket, const addrinfo* server, uint8_t reply[NtpPacketSize],
                                NtpTimestamp* arrival)
{
    int error;
    sockaddr_storage sender = {};
    int senderLength = sizeof sender;
    const int received = ReceiveDatagram(socket, reinterpret_cast<char*>(reply), NtpPacketSize,
                                         reinterpret_cast<sockaddr*>(&sender), &senderLength, &error);
    *arrival = NtpTimestamp::now();
    if (received == SOCKET_ERROR && error == WSAEWOULDBLOCK)
        return NothingToReceive; // Windows may notify FD_READ with no datagram queued
    const bool datagram = received != SOCKET_ERROR || error == WSAEMSGSIZE;
    if (datagram && !IsReplyFromServer(server->ai_addr, reinterpret_cast<const sockaddr*>(&sender), senderLength))
        return Dropped;
    if (received == SOCKET_ERROR) {
        if (error == WSAECONNRESET)
            AddStatusLine(IDS_CONNECTION_REFUSED); // the server's port is closed
        else
            AddStatusLine(IDS_INVALID_REPLY, error); // a longer datagram gives WSAEMSGSIZE
        return Unusable;
    }
    if (received != NtpPacketSize) {
        AddStatusLine(IDS_INVALID_REPLY, int(InvalidLength));
        return Unusable;
    }
    return Received;
}
