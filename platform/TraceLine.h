// What the serial layer tells the line's recorder (Trace.h), and what each
// system gives the recorder. Nothing outside platform/ includes this.
//
// Bytes are gathered into records as they go: the writes of one command are
// one TX record, stamped when its first byte went and written when its CR
// (or anything but another write) comes; reads that follow one another with
// bytes waiting are one RX record, stamped when its first piece came and
// written at a line end or as soon as a look finds the line quiet.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Trace.h"
#include "platform/TraceRecord.h"

void TraceWrote(const uint8_t* data, size_t n);
void TraceRead(const uint8_t* data, size_t n);
// A look at the line found nothing (more) to read.
void TraceQuiet();
// The line's own events (PURGE, CLOSE, LOST, BACK) go through TraceEvent,
// guarded by TraceRecording so that a line not recorded builds no text.

// --- what each system gives the recorder (posix, win32, virtual) ---------

struct TraceClock {
  uint64_t monoUs;    // a clock that never jumps
  int64_t wallUs;     // microseconds since 1970-01-01 00:00 UTC
  int offsetMinutes;  // the local time's offset from UTC at wallUs
};
TraceClock TraceClockNow();
std::string TraceHostName();
long TraceProcessId();
// A trace file: created new (never one that is there: 0 or the error
// code), written whole (0 or the error code; what went before a failure
// stays), closed. The handle of a file not open is -1.
int TraceFileCreate(const std::string& path, intptr_t& handle);
int TraceFileWrite(intptr_t handle, const char* data, size_t n);
void TraceFileClose(intptr_t handle);
