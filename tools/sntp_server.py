#!/usr/bin/env python3
"""A small SNTP server for demonstrations and tests, on loopback only.

    sntp_server.py [--address 127.0.0.1] [--offset SECONDS] [--seconds N]

Answers every 48-byte request with the current time plus OFFSET seconds,
echoing the request's transmit timestamp as the originate timestamp.
"""
import argparse
import ipaddress
import socket
import struct
import sys
import time

NTP_EPOCH_OFFSET = 2208988800


def timestamp(t):
    t += NTP_EPOCH_OFFSET
    seconds = int(t)
    return struct.pack("!II", seconds & 0xFFFFFFFF, int((t - seconds) * 2**32) & 0xFFFFFFFF)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=123)
    parser.add_argument("--offset", type=float, default=0.0)
    parser.add_argument("--seconds", type=float, default=0, help="stop after this long (0: never)")
    args = parser.parse_args()
    if not ipaddress.ip_address(args.address).is_loopback:
        sys.exit("sntp_server.py serves loopback addresses only")

    family = socket.AF_INET6 if ":" in args.address else socket.AF_INET
    server = socket.socket(family, socket.SOCK_DGRAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((args.address, args.port))
    server.settimeout(0.5)
    print(f"sntp_server: {args.address}:{args.port}, offset {args.offset} s", flush=True)
    end = time.monotonic() + args.seconds if args.seconds else None
    while end is None or time.monotonic() < end:
        try:
            request, sender = server.recvfrom(512)
        except socket.timeout:
            continue
        if len(request) < 48:
            continue
        now = timestamp(time.time() + args.offset)
        reply = bytes([0x1C, 1, 0, 0xEC]) + bytes(8) + b"LOCL" + now + request[40:48] + now + now
        server.sendto(reply, sender)


if __name__ == "__main__":
    main()
