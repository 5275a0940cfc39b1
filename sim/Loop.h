// vekton-sim's one loop on the real clock: bytes from the endpoints go into
// the store as each command line ends, answers go out when they are due (at
// once, unless a fault delays them), and between bytes the loop sleeps until
// the next answer, the next mechanical event, an endpoint's descriptors or
// the next control command.
#pragma once
#include <csignal>
#include <cstdint>

#include "sim/ControlFile.h"
#include "sim/SimLogs.h"
#include "sim/line/Line.h"

namespace sim {

// Runs until a quit command, *stop set (by a signal) or a failed wait.
// Returns the microseconds since it started, for the endpoints' Close.
uint64_t RunLoop(Line& line, ControlFile& control, AccessLog& accesses, const volatile std::sig_atomic_t* stop);

}  // namespace sim
