// What the report makes of runs that were read: one self-contained HTML page
// (inline SVG charts, inline styles, no script, no reference to anything
// outside the page) and a CSV table, one row a run.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "report/Acceptance.h"
#include "report/ResultFile.h"

namespace report {

// The page for the runs, each in the order given. With two or more runs it
// opens with a comparison table (ordered by start) and a trend chart of the
// mean and maximum access time per run. `generator` names the program and
// its version in the page's footer. With limits, every run is judged by
// them (Judge): its section opens with the verdict and one row a
// criterion, the comparison gains the verdict, and the page prints as an
// acceptance protocol to sign.
std::string WritePage(const std::vector<Run>& runs, std::string_view generator, const Limits* limits = nullptr);

// One row a run, in the order given, under a header row; RFC 4180 quoting,
// CR LF line ends, numbers as plain decimals with a point. With limits,
// the columns gain "accepted" (yes/no) and one a criterion asked for, named
// by its key ("ready.max_mean_s"): yes, no or "not judged".
std::string WriteCsv(const std::vector<Run>& runs, const Limits* limits = nullptr);

// The same table a piece at a time, for a table of more runs than are held
// at once: the bytes it starts with (a UTF-8 byte order mark), the header's
// cells, one run's cells (RFC 4180 fields, ready to join) and a line of
// cells joined with its CR LF.
constexpr const char* kCsvStart = "\xEF\xBB\xBF";
std::vector<std::string> CsvHeader(const Limits* limits = nullptr);
void CsvRow(const Run& run, const Limits* limits, std::vector<std::string>& cells);
void AppendCsvLine(std::string& out, const std::vector<std::string>& cells);

}  // namespace report
