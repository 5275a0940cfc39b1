// The command line of vekton-trace, as a function: arguments in, trace
// files read (never written), the pcapng file written, messages to the given
// streams, the exit status back.
#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace trace {

// "vekton-trace" and the version, for --version and the pcapng's writer.
std::string Generator();

// Where the traces are when --trace does not say: the user's folder from
// the environment ("" when it names no home).
std::string EnvironmentFolder();

// vekton-trace itself: 0 every record read, 1 a file that cannot be read or
// has lines that are not records (each named on err with its line number;
// the rest is still read), or an output not written, 2 a usage error.
// defaultFolder is the folder without --trace.
int TraceMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const std::string& defaultFolder);

}  // namespace trace
