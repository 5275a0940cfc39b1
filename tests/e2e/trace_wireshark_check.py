#!/usr/bin/env python3
"""The exchanges as Wireshark shows them, against vekton-trace --exchanges.

Usage: trace_wireshark_check.py EXCHANGES FIELDS [--want-split] [--want-no-answer]

EXCHANGES is vekton-trace --exchanges' output: per line the command's wall
clock (with its UTC offset), the command, the answer or "no answer", and the
answer time in ms or "-", separated by tabs.

FIELDS is tshark's -T fields output over every frame, with the fields
frame.number, frame.time_epoch, vekton.command, vekton.response_in,
vekton.first_piece, vekton.answer, vekton.request_in, vekton.time.

From FIELDS each command frame makes one exchange: its time is that of its
first piece, its answer is the one in its response_in frame, whose
request_in must point back to it, and the answer time (seconds with nine
decimals) is written in ms with one decimal, rounded in whole microseconds
as vekton-trace rounds. The two lists must be equal line by line.
--want-split and --want-no-answer ask that an answer came in pieces and that
a command had no answer. Prints what differs and exits 1.
"""
import datetime
import difflib
import sys

EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


def micros(delta):
    return (delta.days * 86400 + delta.seconds) * 1000000 + delta.microseconds


def seconds_to_us(text):
    whole, _, frac = text.partition(".")
    frac = (frac + "000000000")[:9]
    return int(whole) * 1000000 + int(frac) // 1000


def ms(us):
    tenths = (us + 50) // 100
    return "%d.%d" % (tenths // 10, tenths % 10)


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    want_split = "--want-split" in argv[3:]
    want_no_answer = "--want-no-answer" in argv[3:]

    reader = []
    with open(argv[1], encoding="ascii") as f:
        for line in f:
            cols = line.rstrip("\n").split("\t")
            if len(cols) != 4:
                print("vekton-trace: not four columns: %r" % line)
                return 1
            when = datetime.datetime.fromisoformat(cols[0])
            reader.append((micros(when - EPOCH), cols[1], cols[2], cols[3]))

    frames = {}
    order = []
    with open(argv[2], encoding="ascii") as f:
        for line in f:
            cols = line.rstrip("\n").split("\t")
            if len(cols) != 8:
                print("tshark: not eight fields: %r" % line)
                return 1
            n = int(cols[0])
            frames[n] = cols
            order.append(n)

    problems = []
    shark = []
    split = False
    for n in order:
        _, _, command, response_in, first, _, _, _ = frames[n]
        if command == "":
            continue
        first_n = int(first) if first else n
        when = seconds_to_us(frames[first_n][1])
        if response_in:
            a = frames[int(response_in)]
            if a[6] != str(n):
                problems.append("frame %s answers frame %s, not %d" % (response_in, a[6], n))
            split = split or a[4] != ""
            shark.append((when, command, a[5], ms(seconds_to_us(a[7]))))
        else:
            shark.append((when, command, "no answer", "-"))

    if reader != shark:
        lines = lambda xs: ["%d %s | %s | %s" % x for x in xs]
        problems.extend(difflib.unified_diff(lines(reader), lines(shark), "vekton-trace", "Wireshark", lineterm=""))
    if want_split and not split:
        problems.append("no answer came in pieces")
    if want_no_answer and not any(s[2] == "no answer" for s in shark):
        problems.append("no command went without an answer")
    if not shark:
        problems.append("no exchanges")
    for p in problems:
        print(p)
    if not problems:
        print("%d exchanges alike" % len(shark))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
