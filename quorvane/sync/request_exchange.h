// Sending a request to the server and taking a datagram from it: the steps
// that the tray's attempt and the clock service share.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include "reply.h"

// Sends a request that carries a fresh nonce, calling sendto up to five
// times, and notes it in `log` with the time of the send. False (after line
// 12302) when every call failed.
bool SendNoncedRequest(SOCKET socket, const addrinfo* server, RequestLog* log);
// The same without a line: the caller says what a failure means.
bool TrySendNoncedRequest(SOCKET socket, const sockaddr* address, int addressLength, RequestLog* log);

enum ReceiveResult {
    Received,         // 48 bytes from the server, in `reply`
    NothingToReceive, // no datagram was waiting
    Dropped,          // a datagram from another address or port: never looked at
    Unusable,         // the server's port is closed, or not 48 bytes (its line is shown)
};

enum DatagramKind {
    DatagramReceived,   // 48 bytes from the server
    DatagramNone,       // nothing waiting
    DatagramDropped,    // from another address or port
    DatagramWrongSize,  // from the server, but not 48 bytes (`*error` WSAEMSGSIZE when longer)
    DatagramIcmp,       // the network reported an error for the server's address (ICMP)
    DatagramError,      // another receive error, in `*error`
};

// Takes one datagram, reading the clock as soon as it is there; no line.
DatagramKind TakeDatagram(SOCKET socket, const sockaddr* server, uint8_t reply[NtpPacketSize],
                          NtpTimestamp* arrival, int* error);

// Receives one datagram and reads the clock at once, before any line is
// drawn: that reading is the reply's arrival time. Anything that another
// host sends to our port is dropped before it is looked at, whatever its size.
ReceiveResult ReceiveFromServer(SOCKET socket, const addrinfo* server, uint8_t reply[NtpPacketSize],
                                NtpTimestamp* arrival);
