#!/usr/bin/env python3
"""The bytes one side of the line carried, as raw bytes on stdout, from either
of the two traces that see it, so the two can be compared with cmp:

  trace_bytes.py console TX|RX FILE...   the console's trace (its run's files
                                         in order): TX or RX payloads joined
  trace_bytes.py sim RX|TX FILE          vekton-sim's --trace: what it
                                         received (RX) or sent (TX), joined

The console's payloads escape as the trace's record format does (printable
ASCII as it is, <NAME> for the named control bytes, \\xNN for the rest); the
simulator's as its log does (\\r, \\n, \\\\, \\xHH). A line of the console's trace
that is not a record, or a payload that does not read back, ends the helper
with status 1 and the line's place, so a damaged trace is never compared as
if it were whole.
"""
import re
import sys

# The names the record format gives control bytes, as in platform/TraceRecord.cpp.
NAMES = ["NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "HT", "LF", "VT", "FF", "CR",
         "SO", "SI", "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM", "SUB", "ESC",
         "FS", "GS", "RS", "US"]
BYTE_OF_NAME = {name: i for i, name in enumerate(NAMES)}
BYTE_OF_NAME["DEL"] = 0x7F
RECORD = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}[+-]\d\d:\d\d \d+\.\d{6} ([A-Z]+)(?: (.*))?$")
TOKEN = re.compile(r"<([A-Z]+)>|\\x([0-9A-Fa-f]{2})|([^<\\])")


def console_payload(text, where):
    out = bytearray()
    pos = 0
    while pos < len(text):
        m = TOKEN.match(text, pos)
        if not m:
            sys.exit(f"{where}: payload does not read back at column {pos}: {text!r}")
        if m.group(1) is not None:
            if m.group(1) not in BYTE_OF_NAME:
                sys.exit(f"{where}: unknown name <{m.group(1)}>")
            out.append(BYTE_OF_NAME[m.group(1)])
        elif m.group(2) is not None:
            out.append(int(m.group(2), 16))
        else:
            out.extend(m.group(3).encode("latin-1"))
        pos = m.end()
    return bytes(out)


def sim_payload(text):
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n in "rn\\":
                out.append({"r": 13, "n": 10, "\\": 92}[n])
                i += 2
                continue
            if n == "x":
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
        out.extend(c.encode("latin-1"))
        i += 1
    return bytes(out)


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in ("console", "sim") or sys.argv[2] not in ("TX", "RX"):
        sys.exit(__doc__)
    side, word, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    out = bytearray()
    for path in files:
        with open(path, "rb") as f:
            data = f.read()
        if data and not data.endswith(b"\n"):
            sys.exit(f"{path}: the last line has no LF")
        for number, raw in enumerate(data.split(b"\n")[:-1], 1):
            line = raw.decode("latin-1")
            if side == "console":
                m = RECORD.match(line)
                if not m:
                    sys.exit(f"{path}:{number}: not a record: {line!r}")
                if m.group(1) == word:
                    out.extend(console_payload(m.group(2) or "", f"{path}:{number}"))
            else:
                parts = line.split(" ", 2)
                if len(parts) >= 2 and parts[1] == word:
                    out.extend(sim_payload(parts[2] if len(parts) > 2 else ""))
    sys.stdout.buffer.write(bytes(out))


main()
