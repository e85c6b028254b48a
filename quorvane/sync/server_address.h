// Which addresses a server may have, and which datagrams come from it.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

// Whether a datagram came from the address and port that the requests went
// to (`server`). With the limited broadcast address 255.255.255.255 as the
// server any host may answer, and the nonce decides.
bool IsReplyFromServer(const sockaddr* server, const sockaddr* sender, int senderLength);

// Whether `server` names one host: not a broadcast, multicast, unspecified
// or reserved address.
bool IsUnicastServer(const sockaddr* server);
