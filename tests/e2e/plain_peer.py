#!/usr/bin/python3
"""A plain far end for the console's serial line, without the simulator: a
pseudo-terminal reached through a link, answering each command line with
what a controller would answer in form (CR -> CC, CQ -> CF, RD DMn -> 00000,
RD n -> 0, anything else -> OK), logging every line it receives.

Control lines on the FIFO: "close" closes the pseudo-terminal and removes the
link (the peer is gone); "open" makes a new one and points the link at it.

Usage: plain_peer.py LINK CONTROL_FIFO LOG
"""
import os
import select
import sys
import time
import tty


def answer(line):
    if line == "CR":
        return "CC"
    if line == "CQ":
        return "CF"
    if line.startswith("RD DM"):
        return "00000"
    if line.startswith("RD "):
        return "0"
    return "OK"


def main():
    link, control, log_path = sys.argv[1:4]
    if not os.path.exists(control):
        os.mkfifo(control)
    ctl = os.open(control, os.O_RDONLY | os.O_NONBLOCK)
    keep = os.open(control, os.O_WRONLY)  # never an end of file on the FIFO
    log = open(log_path, "a", buffering=1)
    master = None
    pending = b""

    def make():
        nonlocal master
        m, s = os.openpty()
        tty.setraw(s)
        name = os.ttyname(s)
        os.close(s)
        tmp = link + ".new"
        os.symlink(name, tmp)
        os.replace(tmp, link)
        master = m
        log.write("OPEN %s %.3f\n" % (name, time.time()))

    def gone():
        nonlocal master, pending
        if master is not None:
            os.close(master)
        master = None
        pending = b""
        try:
            os.unlink(link)
        except FileNotFoundError:
            pass
        log.write("CLOSE %.3f\n" % time.time())

    make()
    commands = b""
    while True:
        fds = [ctl] + ([master] if master is not None else [])
        ready, _, _ = select.select(fds, [], [], 0.5)
        if ctl in ready:
            commands += os.read(ctl, 256)
            while b"\n" in commands:
                cmd, commands = commands.split(b"\n", 1)
                cmd = cmd.strip().decode()
                if cmd == "close":
                    gone()
                elif cmd == "open" and master is None:
                    make()
                elif cmd == "quit":
                    gone()
                    return
        if master is not None and master in ready:
            try:
                data = os.read(master, 256)
            except OSError:
                data = b""
            if not data:
                continue  # no one has the other end open yet
            pending += data
            while b"\r" in pending:
                line, pending = pending.split(b"\r", 1)
                text = line.decode("latin-1")
                if text:
                    log.write("RX %s\n" % text)
                    os.write(master, (answer(text) + "\r\n").encode())


if __name__ == "__main__":
    main()
