#include "console/ArchiveHook.h"

#ifdef VEKTON_ARCHIVE
#include "archive/Archive.h"
#endif
#include "comLib3/comLib3.h"
#include "report/Cli.h"

#ifdef VEKTON_ARCHIVE

bool ConsoleArchiveCheck(const std::string& dbPath, std::string& message) {
  std::string why;
  if (archive::Archive::Open(dbPath, true, why)) return true;
  message = report::Shown(dbPath) + ": " + (why.empty() ? std::string("cannot be opened") : report::Shown(why));
  return false;
}

bool ConsoleArchiveRun(const std::string& dbPath, const std::string& resultFile, std::string& line) {
  line.clear();
  // Esc gives up a wait for another program's lock: the operator need not
  // sit out the time-out. That Esc is spent on the wait, so the summary
  // still waits for its key as ever; other keys stay buffered.
  const bool archived = archive::ArchiveResultFile(dbPath, resultFile, line, [] {
    PollKey();
    if (!EscAbort) return false;
    EscAbort = false;
    return true;
  });
  if (line.empty())
    line = archived ? "Archived in " + report::Shown(dbPath) : "Not archived: " + report::Shown(dbPath) + " cannot be written";
  return archived;
}

#else

namespace {
constexpr const char* kNotInThisBuild =
    "--archive: the archive is not part of this build; import the result files with vekton-archive on Linux";
}

bool ConsoleArchiveCheck(const std::string&, std::string& message) {
  message = kNotInThisBuild;
  return false;
}

bool ConsoleArchiveRun(const std::string&, const std::string&, std::string& line) {
  line = std::string("Not archived: ") + kNotInThisBuild;
  return false;
}

#endif
