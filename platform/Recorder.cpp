// The line's flight recorder (Trace.h). Placeholder while the recorder is
// written: it records nothing.
#include "platform/Trace.h"

std::string TraceDefaultFolder() { return {}; }
uint64_t TraceFileLimit(uint64_t maxBytes) { return maxBytes / 8 < (16ull << 20) ? maxBytes / 8 : 16ull << 20; }
bool TraceStart(const TraceSetup&) { return true; }
void TraceHeader(std::string_view, int) {}
void TraceEvent(trace::Word, std::string_view) {}
void TraceStop() {}
bool TraceRecording() { return false; }
bool TraceStopped(std::string&, int&) { return false; }
std::string TraceFilePath() { return {}; }
