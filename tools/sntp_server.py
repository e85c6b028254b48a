#!/usr/bin/env python3
"""A small SNTP server for demonstrations and tests, on loopback only.

    sntp_server.py [--address 127.0.0.1] [--offset SECONDS] [--seconds N]
    sntp_server.py --serve 127.0.0.2=0.3 --serve 127.0.0.3=100:short-first ... [--log FILE]

Answers every 48-byte request with the current time plus OFFSET seconds,
echoing the request's transmit timestamp as the originate timestamp. With
--serve it serves several addresses at once, each with its own offset and
manner: "answer" (the default), "silent" (never answers), "short-first"
(a 10-byte datagram from the same address and port, then the answer) or
"slow-first" (its first answer claims a round trip 0.7 s longer than the
real one: the server says it received the request 0.7 s after it answered).
--log appends the address of every request received, one per line.
"""
import argparse
import ipaddress
import select
import socket
import struct
import sys
import time

NTP_EPOCH_OFFSET = 2208988800
MANNERS = ("answer", "silent", "short-first", "slow-first")


def timestamp(t):
    t += NTP_EPOCH_OFFSET
    seconds = int(t)
    return struct.pack("!II", seconds & 0xFFFFFFFF, int((t - seconds) * 2**32) & 0xFFFFFFFF)


def parse_serve(text):
    address, _, rest = text.partition("=")
    offset, _, manner = rest.partition(":")
    manner = manner or "answer"
    if manner not in MANNERS:
        raise argparse.ArgumentTypeError(f"unknown manner {manner}")
    return address, float(offset or 0), manner


def open_socket(address, port):
    if not ipaddress.ip_address(address).is_loopback:
        sys.exit("sntp_server.py serves loopback addresses only")
    family = socket.AF_INET6 if ":" in address else socket.AF_INET
    server = socket.socket(family, socket.SOCK_DGRAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((address, port))
    return server


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=123)
    parser.add_argument("--offset", type=float, default=0.0)
    parser.add_argument("--serve", type=parse_serve, action="append", help="ADDRESS=OFFSET[:MANNER]")
    parser.add_argument("--log", help="append the address of every request to this file")
    parser.add_argument("--seconds", type=float, default=0, help="stop after this long (0: never)")
    args = parser.parse_args()

    served = args.serve or [(args.address, args.offset, "answer")]
    sockets = {}
    for address, offset, manner in served:
        sockets[open_socket(address, args.port)] = (address, offset, manner)
        print(f"sntp_server: {address}:{args.port}, offset {offset} s, {manner}", flush=True)
    answered_slowly = set()
    end = time.monotonic() + args.seconds if args.seconds else None
    while end is None or time.monotonic() < end:
        ready, _, _ = select.select(list(sockets), [], [], 0.5)
        for server in ready:
            address, offset, manner = sockets[server]
            request, sender = server.recvfrom(512)
            if len(request) < 48:
                continue
            if args.log:
                with open(args.log, "a") as log:
                    log.write(address + "\n")
            if manner == "silent":
                continue
            if manner == "short-first":
                server.sendto(b"\x1c" * 10, sender)
            now = timestamp(time.time() + offset)
            received = now
            if manner == "slow-first" and address not in answered_slowly:
                answered_slowly.add(address)
                received = timestamp(time.time() + offset + 0.7)
            reply = bytes([0x1C, 1, 0, 0xEC]) + bytes(8) + b"LOCL" + now + request[40:48] + received + now
            server.sendto(reply, sender)


if __name__ == "__main__":
    main()
