// vekton-archive: a service company's runs of every store in one archive,
// their service events beside them, and the fleet's page. Everything but the
// arguments and the standard streams is in the archive library.
#include <iostream>
#include <string>
#include <vector>

#include "archive/Cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return archive::ArchiveMain(args, std::cout, std::cerr);
}
