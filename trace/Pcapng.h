// The line's trace as a pcapng capture for Wireshark: one section, one
// interface ("host link", link type USER0 = 147, microsecond time stamps),
// one enhanced packet block a record. A pure unit: records in, bytes out.
//
// TX records become outbound packets and RX records inbound ones (the
// direction in each packet's epb_flags), their payload the packet's bytes.
// Every other record (HEAD, OPEN, PURGE, ...) becomes an empty packet whose
// comment is the record's word and payload as the trace shows them, e.g.
// "OPEN COM1 /dev/pts/3 9600 8E1 code 0", so that the events stand between
// the exchanges in Wireshark's list. trace/vekton-hostlink.lua dissects the
// packets.
//
// Little-endian throughout; every block is padded to 32 bits and carries its
// total length at both ends; a packet's time stamp is the record's wallUs
// (UTC microseconds; a time before 1970 is written as 1970).
#pragma once
#include <string>
#include <string_view>

#include "platform/TraceRecord.h"

namespace trace {

// The section header and the one interface (link type USER0, 147,
// microsecond time stamps); appl names the writer, e.g. "vekton-trace 1.0.0".
// Appended once at the start of the file, before any record.
void AppendPcapngStart(std::string& out, std::string_view appl);
// One enhanced packet block for a TX (outbound) or RX (inbound) record,
// an empty packet carrying the event as its comment for any other record.
// The payload is cut at kMaxPayload, as FormatRecord cuts it.
void AppendPcapngRecord(std::string& out, const Record& r);

}  // namespace trace
