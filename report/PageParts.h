// The pieces the page and the table are made of: text made safe for HTML and
// CSV, numbers that read the same under every locale, the summary's figures
// that are measured times, axes with round ticks, compact SVG paths and the
// three charts. Inside the report library, the archive's pages (which are
// made of the same parts) and their tests.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/Figures.h"
#include "report/ResultFile.h"

namespace report::page {

// --- text ---------------------------------------------------------------------
// UTF-8 made fit to show: bytes that are not UTF-8 and control characters
// (C0, DEL, C1) become U+FFFD, so nothing in a file name or a file's text can
// act on a terminal, a spreadsheet or the page's markup.
std::string CleanText(std::string_view utf8);
// CleanText, then & < > " ' as character references: safe in element text
// and in quoted attribute values alike.
std::string Html(std::string_view utf8);
// A text of the result file (code page 437 bytes), ready for the page.
std::string HtmlFromFile(std::string_view cp437);

// --- numbers ------------------------------------------------------------------
// A plain decimal with a point and the given decimals (never a comma, never
// an exponent, whatever the locale); "" for a value that is not finite.
std::string Fixed(double v, int decimals);
// The fewest decimals, at least `least` and at most 6, that show v as it
// is: 12 -> "12", 12.25 -> "12.25", with least 1: 12 -> "12.0".
std::string Shortest(double v, int least);
std::string Integer(int64_t v);

// --- figures --------------------------------------------------------------------
enum Stat { kMin = 0, kMax = 1, kMean = 2 };
// A summary time that was measured: the line is in the file, its group
// counted at least one access and, for a mean, the console divided the sum.
// False leaves `seconds` alone.
bool ReadyTime(const Summary& s, Stat stat, Group g, double& seconds);
bool PlateReadyTime(const Summary& s, Stat stat, Group g, double& seconds);

// The run's length in seconds from its first to its last header; -1 when
// either time is unknown or they are in the wrong order.
int64_t RunSeconds(const Run& run);
// "23 h 59 min", "12 min 05 s", "40 s".
std::string Duration(int64_t seconds);

// Runs in the comparison's order: by start date and time, runs without a
// valid start last in the order given. Indices into runs.
std::vector<size_t> ComparisonOrder(const std::vector<Run>& runs);

// --- axes -------------------------------------------------------------------------
// An axis over [lo, hi] widened to whole steps of 1, 2 or 5 times a power of
// ten, about `ticks` of them.
struct Axis {
  double lo = 0, hi = 1, step = 1;
  int decimals = 0;   // enough to tell the tick labels apart
  int Count() const;  // ticks from lo to hi, both ends included
  double Tick(int i) const;
};
Axis NiceAxis(double lo, double hi, int ticks);
// The same for elapsed time in hours or minutes: steps that divide a day or
// an hour (1, 2, 3, 6, 12, 24 h; 1, 2, 5, 10, 15, 30 min).
Axis TimeAxis(double hi, bool hours, int ticks);

// --- SVG paths ----------------------------------------------------------------------
// Path data from absolute points in pixels, kept to a tenth of a pixel and
// written with relative commands (h and v where a step is straight), with the
// middle points of straight runs dropped.
class PathData {
 public:
  void MoveTo(double x, double y);
  void LineTo(double x, double y);
  // A rectangle as a closed subpath.
  void Rect(double x, double y, double w, double h);
  std::string Take();  // the data so far; the builder starts afresh

 private:
  void Flush();
  void Emit(char cmd, long dx, long dy);
  std::string d_;
  long x_ = 0, y_ = 0;    // the pen, tenths of a pixel, as written
  bool open_ = false;     // a subpath is under way
  bool pending_ = false;  // a line end not yet written (it may be extended)
  long px_ = 0, py_ = 0;  // that end
};
// Tenths of a pixel as the shortest decimal: 120 -> "12", -5 -> "-0.5".
std::string Tenths(long t);

// --- charts -------------------------------------------------------------------------
// Each returns an <svg> element, or "" when the run has nothing to draw.
std::string HistogramChart(const Run& run);
std::string ClimateChart(const Run& run);
// Seconds between two climate lines. The console writes one after four
// readings more than 15 s apart each, so a little over a minute: over a run
// whose length is known, the lines spread over it; otherwise 60.
double ClimateInterval(const Run& run);
// A run as a trend shows it: when it started, its mean and maximum access
// time (-1 where it has none).
struct TrendPoint {
  Stamp start;
  double mean = -1, max = -1;
};
// A service event on a store's history, marked on a trend's time axis.
struct TrendEvent {
  Stamp when;
  std::string text;  // UTF-8
};
// Mean and maximum access time of the runs, in the order given (by start).
// Its axis starts at 0 or spans at least kMinTrendSpan seconds. Runs close
// together stand side by side, those that share a day with their start
// time under the date; runs whose dates lie far apart stand on a time axis.
// Events are marked where they fall.
constexpr double kMinTrendSpan = 1.0;
std::string TrendChart(const std::vector<TrendPoint>& points, const std::vector<TrendEvent>& events = {});
// The mean access time of the runs as a small line, for a row of a table:
// the same axis rules, no labels. "" when no run has a mean.
std::string Sparkline(const std::vector<TrendPoint>& points);

// --- the page ----------------------------------------------------------------------
// The page's style sheet (the report's and the archive's pages share it).
std::string PageStyle();

// One row of a comparison of runs.
struct ComparisonRow {
  RunFigures figures;
  std::string label;     // the run's number or name in the first column
  std::string link;      // where that label leads ("#run-3"), "" for none
  int acceptance = -1;   // 1 accepted, 0 not accepted, -1 not judged
};
// The comparison table, rows in the order given; with `acceptance`, a
// column of the verdicts.
std::string ComparisonTable(const std::vector<ComparisonRow>& rows, bool acceptance);

// The series' colours; the end-to-end test looks for them on the screen.
constexpr const char* kReadyColour = "#1f5fa8";
constexpr const char* kPlateReadyColour = "#e08a00";
constexpr const char* kTemperatureColour = "#c62828";
constexpr const char* kHumidityColour = "#1f5fa8";
constexpr const char* kCo2Colour = "#2e7d32";
constexpr const char* kMeanColour = "#1f5fa8";
constexpr const char* kMaxColour = "#c62828";

// --- CSV ------------------------------------------------------------------------------
// One field as RFC 4180 has it: quoted when it holds a comma, a quote, CR or
// LF, quotes doubled.
std::string CsvField(std::string_view text);

}  // namespace report::page
