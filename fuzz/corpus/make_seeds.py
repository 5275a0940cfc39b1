#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz target into fuzz/corpus/<target>/.

Each target reads its input as a little program of decisions (see the check
in fuzz/checks/); these seeds spell out real situations in that form: the
controller's real answers ("00123" CR LF, "E1", STX/ETX frames, timer
answers), answers split over two reads, typed commands and numbers. Run it
again after changing an input format; the fuzzers grow the rest.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    d = os.path.join(HERE, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def word(v):
    return struct.pack("<H", v & 0xFFFF)


def int32(v):
    return struct.pack("<i", v)


def answer(text, gap=4, crlf=True):
    """One answer piece: shape (1 piece, CR LF added or not), gap, length, bytes."""
    return bytes([1 | (4 if crlf else 0), gap, len(text)]) + text


def split(first, second, gap1=4, gap2=120):
    """Two pieces, the second after the exchange may have given up."""
    return bytes([2, gap1, len(first)]) + first + bytes([gap2, len(second)]) + second


SILENT = bytes([0])

# --- exchange: operations, each followed by the controller's answer ---------
def command(text):
    return bytes([0, len(text)]) + text


write("exchange", "read_dm", command(b"RD DM200") + answer(b"00123"))
write("exchange", "comm_request", bytes([3]) + answer(b"CC"))
write("exchange", "comm_request_silent", bytes([3]) + SILENT * 3)
write("exchange", "short_error", command(b"RD DM99999") + answer(b"E1", crlf=False))
write("exchange", "error_answer", command(b"XX") + answer(b"E0"))
write("exchange", "split_answer", command(b"RD DM1") + split(b"000", b"12\r\n"))
write("exchange", "negative_value", command(b"WR DM10 -5") + answer(b"OK"))
write("exchange", "relay_read", bytes([0x11]) + word(1915) + answer(b"1"))
write("exchange", "relay_set_negative", bytes([0x01]) + word(-1801) + answer(b"OK"))
write("exchange", "write_dm", bytes([0x0A]) + int32(70000) + int32(-1) + answer(b"OK"))
write("exchange", "timer_read", bytes([4, 12]) + answer(b"1,00030,00030"))
write("exchange", "wait_relay", bytes([5, 40]) + word(-1915) + answer(b"1") + answer(b"0 ") + answer(b"0"))
write("exchange", "wait_timer", bytes([6, 60, 13]) + answer(b"0,00010,00030") + answer(b"1,00030,00030"))
write("exchange", "esc_then_command", bytes([7, 100]) + command(b"RD DM200") + bytes([7, 200]) + command(b"CR") + answer(b"CC"))
write("exchange", "stx_etx", command(b"RD DM200") + answer(b"\x0200123\x03"))
write("exchange", "long_answer", command(b"RD DM0") + answer(b"0123456789" * 9))

# --- readline: mode, end characters, capacity, flags, pieces, call gaps ------
def readline(mode, a, b, cap, pieces, flags=0, extra=b""):
    out = bytes([mode, a, b, cap, flags]) + extra + bytes([len(pieces)])
    for gap, data in pieces:
        out += bytes([gap, len(data)]) + data
    return out + bytes([1, 5, 20, 120])


write("readline", "mode1_line", readline(1, 3, 10, 255, [(0, b"1234\r\n")]))
write("readline", "mode1_stx_etx", readline(1, 3, 10, 255, [(0, b"\x0212\x03\r\n")]))
write("readline", "mode1_incomplete", readline(1, 3, 10, 255, [(0, b"12")]))
write("readline", "mode1_slow", readline(1, 3, 10, 255, [(0, b"00"), (90, b"12"), (150, b"3\r\n")]))
write("readline", "mode0_block", readline(0, 0, 0, 255, [(0, b"OK\r\nCC\r\n")]))
write("readline", "mode0_count", readline(0, 4, 0, 3, [(0, b"00123\r\n")]))
write("readline", "quiet_mode", readline(2, 0, 0, 255, [(0, b"E1\r\n"), (30, b"CF\r\n")]))
write("readline", "capacity_small", readline(1, 3, 10, 2, [(0, b"00200\r\n")]))
write("readline", "esc_midway", readline(1, 3, 10, 255, [(0, b"1"), (50, b"2\r\n")], flags=1, extra=word(30)))
write("readline", "vanish", readline(1, 3, 10, 255, [(0, b"12"), (80, b"34\r\n")], flags=2, extra=word(40)))

# --- direct_commands: keys, Esc, then the controller's answers --------------
def keys(typed, gap=5, esc_gap=100):
    out = bytes([len(typed)])
    for ch in typed:
        k = 95 if ch == "\r" else 96 if ch == "\b" else ord(ch) - 32
        out += bytes([gap, k])
    return out + bytes([esc_gap])


# Each status poll ends in two CRs: the poll's answer, then nothing for the
# empty line that follows it.
def poll(text):
    return answer(text) + SILENT


write("direct_commands", "polls_answered", keys("", esc_gap=200) + poll(b"00003") + poll(b"1") + poll(b"00000"))
write("direct_commands", "typed_read", keys("RD DM0\r") + poll(b"00003") + answer(b"00042") + poll(b"1"))
write("direct_commands", "stx_etx_line", keys("RD 1915\r") + poll(b"00000") + answer(b"\x0212\x03"))
write("direct_commands", "backspace_and_short", keys("X\r\bRD\bD 1\r") + poll(b"00001") + answer(b"0"))
write("direct_commands", "garbage", keys("CR\r") + poll(b"\x1b[2J\x07\x00\xff") + answer(b"CC"))
write("direct_commands", "split_poll", keys("", esc_gap=250) + split(b"001", b"23\r\n", gap2=60) + SILENT + poll(b"1"))

# --- conversions: six answers (DM200, relay 1915, the four climate words) ---
def texts(*ts):
    return b"".join(bytes([len(t)]) + t for t in ts)


write("conversions", "real_answers", texts(b"00123", b"1", b"00235", b"00450", b"00500", b"00000"))
write("conversions", "negative_temperature", texts(b"00000", b"0", b"32868", b"00999", b"00001", b"00007"))
write("conversions", "errors", texts(b"E1", b"E0", b"E1", b"", b"OK", b"CC"))
write("conversions", "garbled", texts(b"12a45", b"1 ", b" 0042", b"99999", b"4294967296", b"\x0212\x03"))

# --- operator_lines: which input (number, text, field) and the keys --------
write("operator_lines", "number", b"\x00" + b"123\r")
write("operator_lines", "number_negative", b"\x00" + b" -5 \r")
write("operator_lines", "number_letters", b"\x00" + b"12a\r")
write("operator_lines", "number_beyond_32_bits", b"\x00" + b"99999999999\r")
write("operator_lines", "number_min", b"\x00" + b"-2147483648\r")
write("operator_lines", "number_pasted_controls", b"\x00" + b"1\x072\x093\x00H\r")
write("operator_lines", "number_esc", b"\x00" + b"12\x1b")
write("operator_lines", "text_name", b"\x01" + b"Hans M\x08\r")
write("operator_lines", "text_overlong", b"\x01" + b"x" * 300 + b"\r")
write("operator_lines", "field_edit", b"\x02" + bytes([2]) + b"12" + bytes([4]) + b"\x085\r")
write("operator_lines", "field_over_capacity", b"\x02" + bytes([0, 4]) + b"0123456789\r")
write("operator_lines", "field_esc", b"\x02" + bytes([2]) + b"12" + bytes([4]) + b"7\x1b")

# --- sim_protocol: profile, options, seed, fault, then lines and pauses ----
def raw(line):
    return bytes([0, len(line)]) + line


write("sim_protocol", "session", bytes([0, 0, 1, 0]) + raw(b"CR") + raw(b"RD DM109") + raw(b"RD 1915")
      + raw(b"RD T20") + raw(b"CQ"))
write("sim_protocol", "access", bytes([0, 0, 1, 0]) + raw(b"WR DM0 1") + raw(b"WR DM5 1") + raw(b"ST 1905")
      + bytes([0xE1, 20]) + raw(b"RD 1815") + raw(b"RD 1915") + raw(b"RD DM200"))
write("sim_protocol", "bad_lines", bytes([1, 1, 2, 0]) + raw(b"RD DM99999") + raw(b"WR DM0 70000") + raw(b"XX")
      + raw(b"RD \x01") + raw(b"") + raw(b"ST 1916"))
write("sim_protocol", "garbage_fault", bytes([0, 0, 3, 0xF4]) + raw(b"CR") + raw(b"RD DM0"))
write("sim_protocol", "split_fault", bytes([0, 2, 4, 0xF3]) + raw(b"RD DM25") + bytes([0xE0, 200]) + raw(b"RD 1915"))
write("sim_protocol", "built", bytes([2, 1, 5, 0]) + bytes([7, 0, 1]) + bytes([3, 24]) + bytes([0xE1, 50]) + bytes([1, 0]))

# --- trace_record: 8 bytes of time, offset, word, then the payload; or a line
write("trace_record", "command", bytes(8) + bytes([26, 1]) + b"RD DM200\r")
write("trace_record", "answer_every_byte", bytes(range(8)) + bytes([3, 2]) + bytes(range(256)))
write("trace_record", "looks_escaped", bytes([255] * 8) + bytes([47, 9]) + b"<CR>\\x41<NUL\\")
write("trace_record", "record_line", b"2026-12-08T23:22:56.123456+01:00 12.345678 RX 00123<CR><LF>")
write("trace_record", "record_line_bad", b"2026-12-08T23:22:56.123456-00:30 0.000001 TX \\xZZ<FOO>")
