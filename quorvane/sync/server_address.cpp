#include "server_address.h"

#include <cstddef>
#include <cstring>

namespace {

const ULONG LimitedBroadcast = 0xFFFFFFFFu; // 255.255.255.255

} // namespace

bool IsReplyFromServer(const sockaddr* server, const sockaddr* sender, int senderLength)
{
    if (server->sa_family == AF_INET) {
        const sockaddr_in* to = reinterpret_cast<const sockaddr_in*>(server);
        const sockaddr_in* from = reinterpret_cast<const sockaddr_in*>(sender);
        if (to->sin_addr.s_addr == LimitedBroadcast)
            return true;
        return senderLength >= int(sizeof *from) && from->sin_family == AF_INET && from->sin_port == to->sin_port
               && from->sin_addr.s_addr == to->sin_addr.s_addr;
    }
    if (server->sa_family == AF_INET6) {
        const sockaddr_in6* to = reinterpret_cast<const sockaddr_in6*>(server);
        const sockaddr_in6* from = reinterpret_cast<const sockaddr_in6*>(sender);
        return senderLength >= int(offsetof(sockaddr_in6, sin6_addr) + sizeof from->sin6_addr)
               && from->sin6_family == AF_INET6 && from->sin6_port == to->sin6_port
               && memcmp(&from->sin6_addr, &to->sin6_addr, sizeof to->sin6_addr) == 0;
    }
    return false;
}

bool IsUnicastServer(const sockaddr* server)
{
    if (server->sa_family == AF_INET) {
        const ULONG address = ntohl(reinterpret_cast<const sockaddr_in*>(server)->sin_addr.s_addr);
        // 0.0.0.0/8 names no host; 224.0.0.0/3 holds multicast, the reserved
        // class E and the limited broadcast.
        return (address >> 24) != 0 && (address >> 29) != 7;
    }
    if (server->sa_family == AF_INET6) {
        const unsigned char* bytes = reinterpret_cast<const sockaddr_in6*>(server)->sin6_addr.s6_addr;
        static const unsigned char unspecified[16] = {};
        return bytes[0] != 0xFF && memcmp(bytes, unspecified, sizeof unspecified) != 0; // not multicast, not ::
    }
    return false;
}
