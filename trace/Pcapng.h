// pcapng for Wireshark: the trace's records as packets and comments.
#pragma once
#include <string>
#include <string_view>

#include "platform/TraceRecord.h"

namespace trace {

// The section header and the one interface (link type USER0, 147,
// microsecond time stamps); appl names the writer, e.g. "vekton-trace 1.0.0".
void AppendPcapngStart(std::string& out, std::string_view appl);
// One enhanced packet block for a TX (outbound) or RX (inbound) record,
// an empty packet carrying the event as its comment for any other record.
void AppendPcapngRecord(std::string& out, const Record& r);

}  // namespace trace
