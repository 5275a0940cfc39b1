#!/usr/bin/env python3
"""Small TCP clients for sim_listen.sh: the cases bash's /dev/tcp cannot do
(timing of answer pieces, half-close, resets, floods). Loopback only; every
wait is bounded.

  timed HOST PORT LINE     sends LINE CR; prints each piece of the answer as
                           "<ms after sending> <escaped bytes>" until CR LF
  halfclose HOST PORT LINE sends LINE CR, shuts its sending side, prints all
                           it gets until end of file, then "EOF"
  refused HOST PORT        prints "refused" when the connection is refused
  abuse HOST PORT          peers that misbehave; prints what a well-behaved
                           client then gets
"""
import socket
import struct
import sys
import time

TIMEOUT = 3.0
# SO_LINGER on, zero seconds: close() resets the connection.
RESET = struct.pack("ii", 1, 0)


def escape(data):
    out = []
    for b in data:
        if b == 13:
            out.append("\\r")
        elif b == 10:
            out.append("\\n")
        elif 0x20 <= b <= 0x7E and b != 0x5C:
            out.append(chr(b))
        else:
            out.append("\\x%02X" % b)
    return "".join(out)


def connect(host, port):
    s = socket.create_connection((host, port), timeout=TIMEOUT)
    s.settimeout(TIMEOUT)
    return s


def read_answer(s):
    data = b""
    deadline = time.monotonic() + TIMEOUT
    while not data.endswith(b"\r\n") and time.monotonic() < deadline:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
    return data


def timed(host, port, line):
    s = connect(host, port)
    s.sendall(line.encode() + b"\r")
    start = time.monotonic()
    data = b""
    while not data.endswith(b"\r\n") and time.monotonic() - start < TIMEOUT:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
        print("%d %s" % ((time.monotonic() - start) * 1000, escape(chunk)))
    s.close()


def halfclose(host, port, line):
    s = connect(host, port)
    s.sendall(line.encode() + b"\r")
    s.shutdown(socket.SHUT_WR)
    data = b""
    while True:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
    print(escape(data))
    print("EOF")
    s.close()


def refused(host, port):
    try:
        socket.create_connection((host, port), timeout=TIMEOUT).close()
        print("accepted")
    except ConnectionRefusedError:
        print("refused")


def abuse(host, port):
    # Connects that close at once, some with a reset.
    for i in range(20):
        s = socket.create_connection((host, port), timeout=TIMEOUT)
        if i % 2:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, RESET)
            s.send(b"RD DM1")
        s.close()
    # A megabyte without a line end, then the end: one overlong line.
    s = connect(host, port)
    s.sendall(b"A" * (1 << 20) + b"\r")
    print("overlong", escape(read_answer(s)))
    # Binary bytes, NULs included.
    s.sendall(bytes(range(0, 256)).replace(b"\r", b"") + b"\r")
    print("binary", escape(read_answer(s)))
    s.close()
    # A flood of commands from a client that never reads, cut off by a reset.
    s = connect(host, port)
    s.setblocking(False)
    flood = b"CR\r" * 100000
    sent = 0
    deadline = time.monotonic() + TIMEOUT
    while sent < len(flood) and time.monotonic() < deadline:
        try:
            sent += s.send(flood[sent:])
        except BlockingIOError:
            time.sleep(0.01)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, RESET)
    s.close()
    # And the store still answers a client that behaves.
    s = connect(host, port)
    s.sendall(b"RD DM109\r")
    print("after", escape(read_answer(s)))
    s.close()


def main():
    cmd, host, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    if cmd == "timed":
        timed(host, port, sys.argv[4])
    elif cmd == "halfclose":
        halfclose(host, port, sys.argv[4])
    elif cmd == "refused":
        refused(host, port)
    elif cmd == "abuse":
        abuse(host, port)
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
