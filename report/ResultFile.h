// The random-access test's result file, read back. The file is the console's
// own text: a report header (nine lines) before each section, a climate line
// a minute, a histogram of half-second bins and the complete test summary,
// in fixed widths and fixed labels. The reader knows those widths and labels
// but takes nothing on trust: a line that does not parse is kept out of the
// figures and noted with its number, and a file that ends early (a run that
// was killed, a full disk) is read as far as it goes and marked incomplete.
// It only ever reads the bytes it is handed.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Cp437.h"
#include "report/Fields.h"  // Stamp

namespace report {

// One report header block as the file has it.
struct Header {
  int line = 0;       // 1-based line of its rule line
  std::string title;  // "System Data Summary", ... (trimmed)
  Stamp stamp;        // date of line 2, time of line 3
  // Line 3 without the time, trailing blanks cut (code page 437 bytes). The
  // console cuts the line at 255 bytes, so a name of more than 247 loses the
  // time: the first 247 bytes are kept then, and the stamp is not valid.
  std::string operatorName;
  int64_t serial = -1;   // "SNr. # " ..., -1 when the line did not parse
  std::string firmware;  // "7.1.20" as written after "Firmware ", empty when missing
};

// One climate line: four reals of one decimal each, 5 wide, no separators.
struct ClimateReading {
  int line = 0;
  double temperature = 0;  // degrees Celsius
  double humidity = 0;     // percent relative humidity
  double co2 = 0;          // percent CO2
  double opt = 0;          // the fourth word, unscaled
};

// The three groups of the statistics, in the file's order.
enum Group { kAll = 0, kLoad = 1, kUnload = 2 };

// One histogram row: bin i covers i x 0.5 s up to (i + 1) x 0.5 s.
struct HistogramRow {
  int line = 0;
  int bin = 0;                  // the row's time x 2
  uint32_t ready[3] = {};       // Ready times in this bin: all, load, unload
  uint32_t plateReady[3] = {};  // PlateReady times in this bin: all, load, unload
};

// A time line of the summary: the Ready figure and its PlateReady figure, in
// seconds as printed (one decimal).
struct TimeFigure {
  bool present = false;
  double ready = 0;
  double plateReady = 0;
};

struct Summary {
  // The option lines, their values as printed ("Including Gate Cycle", ...);
  // empty when the line is missing.
  std::string access, cassettes, plateTrace, addressing, cassetteLevels;
  std::string procedure;  // "Fast"
  // The counters; -1 when missing. The console prints them 5 wide, but
  // wider values are read as they stand.
  int64_t totalAccesses = -1;
  int64_t intervalSeconds = -1;
  int64_t carPosErrors = -1;
  // The interval and the error count are signed, and -1 is a value the
  // console does print (an interval typed as -1 stays when the run is quit
  // before its first access): these tell whether their lines were read.
  bool hasIntervalSeconds = false;
  bool hasCarPosErrors = false;
  TimeFigure minimum[3], maximum[3], mean[3];  // by Group

  // Every line of the summary was there, down to "Mean UnLoad Time:".
  bool complete = false;

  // Whether a group's Ready (PlateReady) figures are measured times: false
  // when its minimum line is missing or still shows the reset value
  // (kNoMinimum); the maximum is then 0.0 and the "mean" an undivided sum,
  // none of them a time to show or compare. PlateReady also counts as not
  // measured when its minimum is 0.0: a run without PlateReady timing adds
  // 0.0 for every access, and a measured time is never below 0.1 s.
  bool ReadyMeasured(Group g) const;
  bool PlateReadyMeasured(Group g) const;
  // Whether the group's mean line holds means: its times are measured and,
  // for all accesses, the total to divide by is above 0 (the console prints
  // the undivided sums when its count is 0, which a 16-bit count that ran
  // over 65535 can also be). Applies to the Ready and the PlateReady mean.
  bool MeanMeasured(Group g) const;
};

// What a group's minimum shows when nothing was counted in it: the reset
// value of 2147483647 hundredths, printed with one decimal.
constexpr double kNoMinimum = 21474836.5;

// Something wrong with one line (or, with line 0, with the file as a whole).
struct Problem {
  int line = 0;
  std::string text;
};

// One run as its result file tells it.
struct Run {
  std::string file;  // the name the file was given by
  // The four headers in the order found: system data, climate, statistics,
  // summary. headers[0] always exists in a run that was read.
  std::vector<Header> headers;
  std::vector<ClimateReading> climate;
  std::vector<HistogramRow> histogram;
  Summary summary;

  // True only when the file holds every section and the whole summary.
  bool complete = false;
  // Why the run is incomplete, in a technician's words ("the file ends after
  // line 40, in the climate data", "the file ends in the middle of line 96,
  // in the test summary", "lines of the test summary do not read: ..."),
  // empty when complete.
  std::string incompleteReason;
  // Lines that did not parse (and were left out of the figures), and the
  // file's other oddities (a last line without its line end, ...).
  std::vector<Problem> problems;

  // From the console's note beside the result file, when it kept one: how
  // often the line to the store was lost during the run and how long it was
  // down in all. -1 when there is no note.
  int64_t lineLosses = -1;
  int64_t lineDownSeconds = -1;

  // Facts of the first header, the one written when the run began.
  int64_t Serial() const;
  const std::string& Firmware() const;
  const std::string& OperatorName() const;  // code page 437 bytes
  Stamp Start() const;
  // The time the run ended: that of the summary's header, or of the
  // statistics' header (written just before it) when the file ends in
  // between or the summary's header has no readable time; not valid when
  // the file has neither (the climate header is written at the start).
  Stamp End() const;
  // Accesses the histogram holds beyond the counted ones (Ready times
  // outside 0.1 s .. 100 s, or cut by a quit): the Ready-all counts of the
  // printed rows less the total accesses, 0 when that is not positive or the
  // summary has no total. A lower bound: rows outside the printed range are
  // not in the file.
  int64_t UncountedAccesses() const;
};

enum class ReadStatus {
  kRead,           // a run, complete or not (see Run::complete)
  kNotResultFile,  // the bytes are not a result file (or end inside the first header)
};

struct ReadResult {
  ReadStatus status = ReadStatus::kNotResultFile;
  Run run;        // meaningful when status is kRead
  Problem error;  // why it is not a result file, when it is not
};

// Reads the bytes of one result file; `name` is what messages call it.
// Line ends may be LF or CR LF (the file is written on Linux and Windows).
ReadResult ReadResultFile(std::string_view bytes, std::string_view name);

// The file's texts are code page 437 bytes; the page and the CSV show them
// as UTF-8 through the code page's own conversion.
using ::Cp437ToUtf8;

}  // namespace report
