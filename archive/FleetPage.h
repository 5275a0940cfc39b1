// The archive's page: the fleet first (one row a store), then one section a
// store with its trend and its comparison table. One self-contained HTML
// file under the report page's rules: no script, nothing loaded from
// elsewhere, every text escaped.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "archive/Drift.h"

namespace archive {

struct StoreHistory {
  int64_t serial = -1;
  std::vector<StoredRun> runs;  // by start
  std::vector<Event> events;    // by date
  Drift drift;
  // The last run's verdict by the page's limits: 1 accepted, 0 not, -1 not
  // judged (no limits given, or the run could not be read back).
  int lastAccepted = -1;
  std::string lastVerdict;  // its words: "accepted (31 of 31 criteria)", "NOT accepted: ..."
};

// `generator`: the program and its version for the footer; `limitsFile`:
// the limits file's name when the verdicts were judged by one, else "".
std::string WriteFleetPage(const std::vector<StoreHistory>& stores, std::string_view generator,
                           std::string_view limitsFile);

}  // namespace archive
