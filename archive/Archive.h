// A service company's archive of runs: every result file it was given, once,
// with the service events of each store beside them, in one SQLite file that
// needs no server. This header is the archive's whole face; SQLite itself is
// seen only inside Database.cpp.
//
// A run is known by its first report header (the nine lines the console
// writes when the run starts: the store's serial number, the date and time,
// the operator): the same file imported twice, or a copy under another name,
// is one run. A file that starts with the bytes the archive holds of a run
// and goes on (the run was still going when it was first imported) replaces
// its shorter self; a shorter one than the archive holds is left out.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "report/Figures.h"
#include "report/ResultFile.h"

namespace archive {

// The schema this program writes. Version 1 had no line note and no kind
// of event; a database of an older version is brought forward when it is
// opened for writing, one of a newer version is refused.
constexpr int kSchemaVersion = 2;

// A run as the archive keeps it.
struct StoredRun {
  int64_t id = 0;
  report::RunFigures figures;  // file: the name it was first imported by
  // The Ready times of all accesses in half-second bins: bins[i] counts the
  // accesses from i x 0.5 s to (i + 1) x 0.5 s (the result file's histogram,
  // rows it does not print as 0).
  std::vector<uint32_t> readyBins;
  int64_t bytes = 0;        // the size of the result file held
  std::string importedAt;   // "2026-12-09 10:15:02", the archive's clock (UTC)
};

// The run's figures and histogram as the archive keeps them (id, bytes and
// importedAt left for the archive to fill).
StoredRun StoredRunOf(const report::Run& run);

// A service event on a store's history.
struct Event {
  int64_t id = 0;
  int64_t serial = -1;
  report::Stamp when;      // a day alone reads as its 00:00:00
  bool dayOnly = true;     // the time was not given
  std::string text;        // UTF-8, no control characters
  // Whether it changed the store's mechanics (a part replaced, a re-teach):
  // drift is then judged against the runs after it only. A firmware update
  // or a remark does not.
  bool mechanics = true;
};

enum class AddOutcome {
  kAdded,            // a run the archive did not have
  kAlreadyThere,     // the same bytes are in the archive (under any name)
  kReplaced,         // the archive held the start of this file: it now holds all of it
  kArchiveHasMore,   // the archive holds this file and more of the same run
  kNotResultFile,    // skipped: see line and message
  kFailed,           // the archive could not be written: see message
};

struct AddResult {
  AddOutcome outcome = AddOutcome::kFailed;
  int64_t runId = 0;    // the run's id, for every outcome but the last two
  int64_t serial = -1;  // kAdded, kReplaced: the run's store
  report::Stamp start;  // and its start
  int line = 0;         // kNotResultFile: where the file stopped being one (0: as a whole)
  std::string message;  // kNotResultFile, kFailed: why
};

class Archive {
 public:
  // Opens (or, with create, makes) the archive at path: write-ahead log,
  // a busy time-out so that imports running at once wait for each other,
  // an older schema brought forward. Null with the reason in error. With
  // giveUp, a wait for another program's lock asks it every 20 ms and ends
  // (as the time-out would) when it says true: an operator's Esc.
  static std::unique_ptr<Archive> Open(const std::string& path, bool create, std::string& error,
                                       std::function<bool()> giveUp = {});
  virtual ~Archive() = default;

  virtual int SchemaVersion() = 0;

  // Imports one run: the result file's bytes, the run read from them (with
  // its line note, when the file had one beside it) and the name it was
  // given by. One transaction: a run is in the archive whole or not at all.
  virtual AddResult AddRun(std::string_view bytes, const report::Run& run) = 0;
  // Reads the file at path (and its line note) and imports it.
  virtual AddResult AddFile(const std::string& path) = 0;

  virtual bool AddEvent(const Event& event, std::string& error) = 0;
  // Events of one store (serial >= 0) or all, by store, then by date.
  virtual std::vector<Event> Events(int64_t serial = -1) = 0;

  // The stores' serial numbers, ascending.
  virtual std::vector<int64_t> Serials() = 0;
  // The runs of one store (serial >= 0) or all, by store, then by start.
  virtual std::vector<StoredRun> Runs(int64_t serial = -1) = 0;
  // The result file's bytes of a run, as imported; false when there is no
  // such run.
  virtual bool RunBytes(int64_t id, std::string& bytes) = 0;

  // The last error of the database, for a message.
  virtual std::string LastError() = 0;
};

// What the console does after a run's page: imports the result file at
// resultFile into the archive at dbPath (made when missing). The line to
// show: "Archived in DB" or why not ("Not archived: ..."). giveUp as for
// Archive::Open.
bool ArchiveResultFile(const std::string& dbPath, const std::string& resultFile, std::string& line,
                       std::function<bool()> giveUp = {});

}  // namespace archive
