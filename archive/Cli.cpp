#include "archive/Cli.h"

namespace archive {

int ArchiveMain(const std::vector<std::string>&, std::ostream&, std::ostream& err) {
  err << "vekton-archive: not built yet\n";
  return 1;
}

}  // namespace archive
