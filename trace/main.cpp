// vekton-trace: the line's trace files read back, as records, exchanges,
// figures or a pcapng file. Everything but the arguments, the environment
// and the standard streams is in the trace library.
#include <iostream>
#include <string>
#include <vector>

#include "trace/Cli.h"

#ifdef __MINGW32__
// Windows hands a program its arguments as typed: "vekton-*.trace" stays a
// pattern unless the C runtime expands it, as a POSIX shell would.
extern "C" {
int _dowildcard = -1;
}
#endif

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  return trace::TraceMain(args, std::cout, std::cerr, trace::EnvironmentFolder());
}
