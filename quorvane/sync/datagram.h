// Sending and receiving one datagram; the program links the real functions,
// tests that must produce errors Wine never reports link their own.
#pragma once

#include <winsock2.h>

// recvfrom into `buffer`, the sender's address into `sender` (of
// `*senderLength` bytes, set to the length filled): the length received, or
// SOCKET_ERROR with the socket error code in `*error`.
int ReceiveDatagram(SOCKET socket, char* buffer, int size, sockaddr* sender, int* senderLength, int* error);
// sendto `address`: true when the datagram was sent.
bool SendDatagram(SOCKET socket, const char* data, int size, const sockaddr* address, int addressLength);
