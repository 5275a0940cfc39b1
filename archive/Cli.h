// vekton-archive's command line, as a function: arguments in, the archive
// and files through the platform and the database, messages to the given
// streams, the exit status back.
#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace archive {

// 0 done; 1 a file not imported (not a result file, not readable) or an
// output not written, the archive not opened or not written; 2 a usage
// error.
int ArchiveMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace archive
