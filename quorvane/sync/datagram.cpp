#include "datagram.h"

int ReceiveDatagram(SOCKET socket, char* buffer, int size, sockaddr* sender, int* senderLength, int* error)
{
    int received = recvfrom(socket, buffer, size, 0, sender, senderLength);
    *error = received == SOCKET_ERROR ? WSAGetLastError() : 0;
    return received;
}

bool SendDatagram(SOCKET socket, const char* data, int size, const sockaddr* address, int addressLength)
{
    return sendto(socket, data, size, 0, address, addressLength) != SOCKET_ERROR;
}
