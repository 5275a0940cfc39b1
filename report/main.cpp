// vekton-report: result files of the random-access test into one page with
// charts and tables, and a CSV table. Everything but the arguments and the
// standard streams is in the report library.
#include <iostream>
#include <string>
#include <vector>

#include "report/Cli.h"

#ifdef __MINGW32__
// Windows hands a program its arguments as typed: "1234_*.spf" stays a
// pattern unless the C runtime expands it, as a POSIX shell would.
extern "C" int _dowildcard = -1;
#endif

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return report::ReportMain(args, std::cout, std::cerr);
}
