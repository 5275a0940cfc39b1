// vekton-report: result files of the random-access test into one page with
// charts and tables, and a CSV table. Everything but the arguments and the
// standard streams is in the report library.
#include <iostream>
#include <string>
#include <vector>

#include "report/Cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return report::ReportMain(args, std::cout, std::cerr);
}
