// The CSV table: one row a run, for a spreadsheet or a script that follows a
// store over months.
//
// The bytes start with a UTF-8 byte order mark. Spreadsheets on Windows (the
// store PC's) read a CSV without one in the ANSI code page and show an
// operator "Müller" as "MÃ¼ller"; with it they read UTF-8. Readers that know
// encodings take the mark off (Python's "utf-8-sig", pandas, LibreOffice);
// one that does not keeps it in front of the first column's name, "file",
// so a script of that kind should take that column by its place.
//
// Numbers are written by Fixed() and Integer(), never through a locale, so
// a German Windows or a console that called setlocale still gets points.
// A figure that is not a measured time (a group without a counted access, a
// summary line missing) leaves its cell empty rather than show the reset
// values the file holds.
#include <algorithm>
#include <string>
#include <vector>

#include "report/Page.h"
#include "report/PageParts.h"

namespace report {

using namespace page;

namespace {

constexpr const char* kColumns[] = {
    "file", "serial", "date", "time", "firmware", "operator", "complete", "total_accesses", "car_pos_errors",
    "access_mean_s", "access_min_s", "access_max_s", "load_mean_s", "unload_mean_s", "climate_lines",
    // Beyond the columns every reader may rely on:
    "end_date", "end_time", "duration_s", "interval_s", "uncounted_accesses_at_least", "problems", "incomplete_reason",
    "access_pr_mean_s", "access_pr_min_s", "access_pr_max_s", "load_min_s", "load_max_s", "load_pr_mean_s",
    "load_pr_min_s", "load_pr_max_s", "unload_min_s", "unload_max_s", "unload_pr_mean_s", "unload_pr_min_s",
    "unload_pr_max_s", "temperature_min_c", "temperature_max_c", "humidity_min_pct", "humidity_max_pct", "co2_min_pct",
    "co2_max_pct", "access_mode", "cassettes", "plate_trace", "addressing", "cassette_levels", "procedure",
    // From the console's note beside the result file; empty when there is
    // none (the console leaves one only when the line was lost).
    "line_losses", "line_down_s"};

// A text as a cell: made clean, and kept from being taken for a formula by
// a spreadsheet (a leading = + - @ gets an apostrophe, as spreadsheets
// themselves write such texts).
std::string TextCell(std::string_view utf8) {
  std::string t = CleanText(utf8);
  if (!t.empty() && (t[0] == '=' || t[0] == '+' || t[0] == '-' || t[0] == '@')) t.insert(0, 1, '\'');
  return CsvField(t);
}

std::string Count(int64_t v) { return v >= 0 ? Integer(v) : std::string(); }

std::string ReadyCell(const Summary& s, Stat st, Group g) {
  double v = 0;
  return ReadyTime(s, st, g, v) ? Fixed(v, 1) : std::string();
}

std::string PlateCell(const Summary& s, Stat st, Group g) {
  double v = 0;
  return PlateReadyTime(s, st, g, v) ? Fixed(v, 1) : std::string();
}

// The lowest and highest of one climate value, or two empty cells.
void Range(std::vector<std::string>& row, const Run& run, double ClimateReading::*value) {
  if (run.climate.empty()) {
    row.emplace_back();
    row.emplace_back();
    return;
  }
  double lo = run.climate.front().*value, hi = lo;
  for (const ClimateReading& r : run.climate) lo = std::min(lo, r.*value), hi = std::max(hi, r.*value);
  row.push_back(Fixed(lo, 1));
  row.push_back(Fixed(hi, 1));
}

}  // namespace

std::vector<std::string> CsvHeader(const Limits* limits) {
  std::vector<std::string> header(std::begin(kColumns), std::end(kColumns));
  // The criteria's columns follow the limits; every run has the same ones.
  if (limits) {
    header.push_back("accepted");
    for (int c = 0; c < kCriterionCount; ++c)
      if (limits->limit[c]) header.push_back(CriterionKey(Criterion(c)));
  }
  return header;
}

void CsvRow(const Run& run, const Limits* limits, std::vector<std::string>& row) {
  const Summary& s = run.summary;
  const Stamp start = run.Start(), end = run.End();
  const int64_t seconds = RunSeconds(run);
  row.clear();
  row.push_back(TextCell(run.file));
  row.push_back(Count(run.Serial()));
  row.push_back(start.valid ? start.Date() : "");
  row.push_back(start.valid ? start.Time() : "");
  row.push_back(TextCell(Cp437ToUtf8(run.Firmware())));
  row.push_back(TextCell(Cp437ToUtf8(run.OperatorName())));
  row.push_back(run.complete ? "yes" : "no");
  row.push_back(Count(s.totalAccesses));
  row.push_back(Count(s.carPosErrors));
  row.push_back(ReadyCell(s, kMean, kAll));
  row.push_back(ReadyCell(s, kMin, kAll));
  row.push_back(ReadyCell(s, kMax, kAll));
  row.push_back(ReadyCell(s, kMean, kLoad));
  row.push_back(ReadyCell(s, kMean, kUnload));
  row.push_back(Integer(static_cast<int64_t>(run.climate.size())));

  row.push_back(end.valid ? end.Date() : "");
  row.push_back(end.valid ? end.Time() : "");
  row.push_back(seconds >= 0 ? Integer(seconds) : "");
  row.push_back(Count(s.intervalSeconds));
  row.push_back(Integer(std::max<int64_t>(0, run.UncountedAccesses())));
  row.push_back(Integer(static_cast<int64_t>(run.problems.size())));
  row.push_back(TextCell(run.incompleteReason));
  row.push_back(PlateCell(s, kMean, kAll));
  row.push_back(PlateCell(s, kMin, kAll));
  row.push_back(PlateCell(s, kMax, kAll));
  row.push_back(ReadyCell(s, kMin, kLoad));
  row.push_back(ReadyCell(s, kMax, kLoad));
  row.push_back(PlateCell(s, kMean, kLoad));
  row.push_back(PlateCell(s, kMin, kLoad));
  row.push_back(PlateCell(s, kMax, kLoad));
  row.push_back(ReadyCell(s, kMin, kUnload));
  row.push_back(ReadyCell(s, kMax, kUnload));
  row.push_back(PlateCell(s, kMean, kUnload));
  row.push_back(PlateCell(s, kMin, kUnload));
  row.push_back(PlateCell(s, kMax, kUnload));
  Range(row, run, &ClimateReading::temperature);
  Range(row, run, &ClimateReading::humidity);
  Range(row, run, &ClimateReading::co2);
  row.push_back(TextCell(Cp437ToUtf8(s.access)));
  row.push_back(TextCell(Cp437ToUtf8(s.cassettes)));
  row.push_back(TextCell(Cp437ToUtf8(s.plateTrace)));
  row.push_back(TextCell(Cp437ToUtf8(s.addressing)));
  row.push_back(TextCell(Cp437ToUtf8(s.cassetteLevels)));
  row.push_back(TextCell(Cp437ToUtf8(s.procedure)));
  row.push_back(Count(run.lineLosses));
  row.push_back(Count(run.lineDownSeconds));
  if (limits) {
    const Judgement j = Judge(run, *limits);
    row.push_back(j.accepted ? "yes" : "no");
    for (const CriterionResult& c : j.criteria)
      row.push_back(c.outcome == Outcome::kPassed ? "yes" : c.outcome == Outcome::kFailed ? "no" : "not judged");
  }
}

void AppendCsvLine(std::string& out, const std::vector<std::string>& cells) {
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i) out += ',';
    out += cells[i];
  }
  out += "\r\n";
}

std::string WriteCsv(const std::vector<Run>& runs, const Limits* limits) {
  std::string out = kCsvStart;
  out.reserve(1024 + runs.size() * 512);
  AppendCsvLine(out, CsvHeader(limits));
  std::vector<std::string> row;
  for (const Run& run : runs) {
    CsvRow(run, limits, row);
    AppendCsvLine(out, row);
  }
  return out;
}

}  // namespace report
