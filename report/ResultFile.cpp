// The result file read back. The console writes it line by line in fixed
// forms, so the reader checks every line against the one form it may have at
// its place and takes a figure only from a line that has exactly that form.
// A line that does not is noted and left out; the sections are found again
// by their headers, which no data line can be taken for. A last line without
// its line end may be cut short anywhere, so it is never read.
//
// Two tables say what the file is: kHeaderLines, the lines of a report
// header, and kSections, the sections in the order the console writes them.
// The summary's lines are a third (kItems).
#include "report/ResultFile.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <span>

namespace report {

namespace {

using fields::FromTenths;
using fields::Kind;
using fields::kMaxIntegerDigits;
using fields::ReadField;
using fields::ReadInteger;
using fields::WholeField;

constexpr size_t kBlockWidth = 55;
// The console builds each line in a text of at most 255 bytes.
constexpr size_t kMaxConsoleLine = 255;
const std::string_view kRule = "_______________________________________________________";
const std::string_view kProgramLine = "Vekton System Test * V 3.02v, 10.12.07";

// A run full of damage would otherwise list every line; the first ones tell
// the story.
constexpr size_t kMaxProblems = 200;

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

std::string TrimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
}

std::string Centered(std::string_view text) {
  std::string s;
  if (text.size() < kBlockWidth) s.assign((kBlockWidth - text.size()) / 2, ' ');
  s.append(text);
  return s;
}

const std::string& CenteredProgramLine() {
  static const std::string line = Centered(kProgramLine);
  return line;
}

// --- the file's lines ----------------------------------------------------------
// Complete lines one after the other, with a look a few lines ahead for the
// headers. Only lines that end in LF are handed out; the rest after the last
// LF is the cut line, if any.

struct Line {
  int number = 0;
  std::string_view text;
  bool crlf = false;
};

class Lines {
 public:
  explicit Lines(std::string_view bytes) : bytes_(bytes) {}

  // The line `ahead` lines after the next one (0: the next), if complete.
  const Line* Peek(size_t ahead) {
    while (count_ <= ahead) {
      Line line;
      if (!Scan(line)) return nullptr;
      ring_[(first_ + count_) % kRing] = line;
      ++count_;
    }
    return &ring_[(first_ + ahead) % kRing];
  }
  bool Next(Line& line) {
    if (!Peek(0)) return false;
    line = ring_[first_];
    first_ = (first_ + 1) % kRing;
    --count_;
    return true;
  }
  // After the last complete line: the bytes that follow it without an LF.
  std::string_view Tail() const { return bytes_.substr(pos_); }
  int Scanned() const { return scanned_; }
  // Counts the remaining complete lines without looking at them.
  int SkipRest() {
    int skipped = static_cast<int>(count_);
    first_ = (first_ + count_) % kRing;
    count_ = 0;
    while (const void* nl = std::memchr(bytes_.data() + pos_, '\n', bytes_.size() - pos_)) {
      pos_ = static_cast<size_t>(static_cast<const char*>(nl) - bytes_.data()) + 1;
      ++skipped;
      ++scanned_;
    }
    return skipped;
  }

 private:
  static constexpr size_t kRing = 16;

  bool Scan(Line& line) {
    if (pos_ >= bytes_.size()) return false;
    const void* nl = std::memchr(bytes_.data() + pos_, '\n', bytes_.size() - pos_);
    if (!nl) return false;
    const size_t end = static_cast<size_t>(static_cast<const char*>(nl) - bytes_.data());
    line.text = bytes_.substr(pos_, end - pos_);
    line.crlf = !line.text.empty() && line.text.back() == '\r';
    if (line.crlf) line.text.remove_suffix(1);
    line.number = ++scanned_;
    pos_ = end + 1;
    return true;
  }

  std::string_view bytes_;
  size_t pos_ = 0;
  int scanned_ = 0;
  Line ring_[kRing];
  size_t first_ = 0, count_ = 0;
};

// --- the header's lines ----------------------------------------------------------
// A report header is its rule line and the eight lines of kHeaderLines, one
// row a line, in the file's order; each row's function reads its line.

// A header being read: the figures go to `header`, the date and the time
// each make half of its stamp, and its title line must be `title`.
struct HeaderDraft {
  Header& header;
  std::string_view title;  // the title line due (centred as the console writes it)
  bool dateOk = false;
  bool timeOk = false;
};

enum class LineVerdict {
  kRead,        // the console's line; its figures are taken
  kNoFigure,    // the console's line, but its figure is not to be had
  kNotConsole,  // not the line the console writes here
};

using HeaderLineReader = LineVerdict (*)(std::string_view text, HeaderDraft& draft);

struct HeaderLine {
  HeaderLineReader read;
  const char* notConsole;  // the problem when the line is not the console's
  const char* noFigure;    // the problem when it is but has no figure to give (null: it always has)
};

// "Quendal AG", blanks and the date. A clock set before 2000 makes the
// console print a year of three characters; that is the clock's fault, not
// the file's: the date is then missing, the file is read.
LineVerdict ReadDateLine(std::string_view t, HeaderDraft& d) {
  const std::string_view left = "Quendal AG";
  const size_t dateAt = t.find_last_of(' ') + 1;
  const std::string_view date = t.substr(std::min(dateAt, t.size()));
  const bool form = t.size() == kBlockWidth && StartsWith(t, left) && dateAt > left.size() &&
                    t.substr(left.size(), dateAt - left.size()).find_first_not_of(' ') == std::string_view::npos &&
                    (date.size() == 8 || date.size() == 9) &&
                    date.find_first_not_of("0123456789-") == std::string_view::npos;
  if (!form) return LineVerdict::kNotConsole;
  d.dateOk = fields::ReadDate(date, d.header.stamp);
  return d.dateOk ? LineVerdict::kRead : LineVerdict::kNoFigure;
}

// The operator's name, blanks up to the time in the last eight columns; a
// long name leaves no blanks, and one that fills the console's 255 bytes has
// pushed the time off the end.
LineVerdict ReadOperatorLine(std::string_view t, HeaderDraft& d) {
  if (t.size() >= kBlockWidth && fields::ReadTime(t.substr(t.size() - 8), d.header.stamp)) {
    d.timeOk = true;
    d.header.operatorName = TrimRight(t.substr(0, t.size() - 8));
    return LineVerdict::kRead;
  }
  if (t.size() == kMaxConsoleLine) {
    d.header.operatorName = TrimRight(t.substr(0, kMaxConsoleLine - 8));
    return LineVerdict::kNoFigure;
  }
  return LineVerdict::kNotConsole;
}

LineVerdict ReadEmptyLine(std::string_view t, HeaderDraft&) {
  return t.empty() ? LineVerdict::kRead : LineVerdict::kNotConsole;
}

LineVerdict ReadProgramLine(std::string_view t, HeaderDraft&) {
  return t == CenteredProgramLine() ? LineVerdict::kRead : LineVerdict::kNotConsole;
}

LineVerdict ReadTitleLine(std::string_view t, HeaderDraft& d) {
  return t == d.title ? LineVerdict::kRead : LineVerdict::kNotConsole;
}

// "SNr. # " and the serial number, blanks, "Firmware " and the firmware word
// (at most 65535) as thousands, hundreds and the rest.
LineVerdict ReadSerialLine(std::string_view t, HeaderDraft& d) {
  const std::string_view prefix = "SNr. # ", firmware = "Firmware ";
  size_t pos = prefix.size();
  int64_t serial = 0, parts[3] = {};
  bool ok = t.size() == kBlockWidth && StartsWith(t, prefix) && ReadInteger(t, pos, true, serial) &&
            serial >= INT32_MIN && serial <= INT32_MAX && t[pos] == ' ';
  while (ok && pos < t.size() && t[pos] == ' ') ++pos;
  ok = ok && StartsWith(t.substr(pos), firmware);
  const size_t versionAt = pos + firmware.size();
  pos = versionAt;
  for (int k = 0; ok && k < 3; ++k)
    ok = ReadInteger(t, pos, false, parts[k]) && (k == 2 ? pos == t.size() : pos < t.size() && t[pos++] == '.');
  ok = ok && parts[0] <= 65 && parts[1] <= 9 && parts[2] <= 99;
  if (!ok) return LineVerdict::kNotConsole;
  d.header.serial = serial;
  d.header.firmware = std::string(t.substr(versionAt));
  return LineVerdict::kRead;
}

constexpr const char* kNotEmpty = "the header has text where its empty line belongs";

constexpr HeaderLine kHeaderLines[] = {
    {ReadDateLine, "the header's date line does not read (\"Quendal AG\" and a date DD-MM-YY)",
     "the header's date is no day of the calendar (the console's clock?): no date for it"},
    {ReadOperatorLine, "the header's operator and time line does not read (a name and HH:MM:SS)",
     "the operator's name fills the header line: the console cut the time off"},
    {ReadEmptyLine, kNotEmpty, nullptr},
    {ReadProgramLine, "the header's program line is not the console's", nullptr},
    {ReadTitleLine, "the header's title is not the one expected here", nullptr},
    {ReadEmptyLine, kNotEmpty, nullptr},
    {ReadSerialLine, "the header's serial number and firmware line does not read", nullptr},
    {ReadEmptyLine, kNotEmpty, nullptr},
};

// The lines of a header, its rule line with them.
constexpr int kHeaderSize = 1 + static_cast<int>(std::size(kHeaderLines));

// Where the line a row reads stands in the header: 1 for the line after the
// rule line.
constexpr int HeaderLineOf(HeaderLineReader read) {
  for (int i = 0; i < kHeaderSize - 1; ++i)
    if (kHeaderLines[i].read == read) return i + 1;
  return -1;
}
constexpr int kTitleLine = HeaderLineOf(ReadTitleLine);
constexpr int kSerialLine = HeaderLineOf(ReadSerialLine);
static_assert(kTitleLine > 0 && kSerialLine > 0, "a header has a title and a serial number line");

// --- the summary's lines ---------------------------------------------------------

enum class ItemKind { kOption, kEmpty, kProcedure, kCounter, kTime };

// One line of the summary: its label and, by its kind, where its figure
// goes and what it may be.
struct Item {
  ItemKind kind;
  std::string_view label = {};
  // kOption (one of two values), kProcedure (the one value the label ends in).
  std::string Summary::*text = nullptr;
  std::string_view values[2] = {};
  // kCounter: the figure, the flag that says it was read (if it has one),
  // and the range the console's variable holds.
  int64_t Summary::*counter = nullptr;
  bool Summary::*counterRead = nullptr;
  int64_t counterMin = 0, counterMax = 0;
  // kTime: the minimum, maximum or mean line of a group.
  TimeFigure (Summary::*times)[3] = nullptr;
  Group group = kAll;
};

// The console's 16-bit counts (the total accesses, the histogram's bins)
// stop here; the interval and the errors are 32-bit and may be negative.
constexpr int64_t kCounterMax = 65535;
const Item kItems[] = {
    {.kind = ItemKind::kOption, .label = "Access: ", .text = &Summary::access,
     .values = {"Including Gate Cycle", "No Gate Cycle"}},
    {.kind = ItemKind::kOption, .label = "Cassettes: ", .text = &Summary::cassettes,
     .values = {"One-Plate Non-Inverted Test Mode", "Filled Inverted Test Mode"}},
    {.kind = ItemKind::kOption, .label = "PlateTrace: ", .text = &Summary::plateTrace,
     .values = {"Actived", "Not Activated"}},
    {.kind = ItemKind::kOption, .label = "Addressing: ", .text = &Summary::addressing,
     .values = {"Cassettes Look-Up Table", "Native DM-Values"}},
    {.kind = ItemKind::kOption, .label = "Cassette Levels: ", .text = &Summary::cassetteLevels,
     .values = {"Bi-Level", "Single Level"}},
    {.kind = ItemKind::kEmpty},
    {.kind = ItemKind::kProcedure, .label = "Access Procedure:       Fast", .text = &Summary::procedure,
     .values = {"Fast"}},
    {.kind = ItemKind::kEmpty},
    {.kind = ItemKind::kCounter, .label = "Total Accesses:        ", .counter = &Summary::totalAccesses,
     .counterMin = 0, .counterMax = kCounterMax},
    {.kind = ItemKind::kCounter, .label = "Access Interval [Sec]: ", .counter = &Summary::intervalSeconds,
     .counterRead = &Summary::hasIntervalSeconds, .counterMin = INT32_MIN, .counterMax = INT32_MAX},
    {.kind = ItemKind::kCounter, .label = "Car. Pos. Errs         ", .counter = &Summary::carPosErrors,
     .counterRead = &Summary::hasCarPosErrors, .counterMin = INT32_MIN, .counterMax = INT32_MAX},
    {.kind = ItemKind::kEmpty},
    {.kind = ItemKind::kTime, .label = "Min. Access Time:      ", .times = &Summary::minimum, .group = kAll},
    {.kind = ItemKind::kTime, .label = "Max. Access Time:      ", .times = &Summary::maximum, .group = kAll},
    {.kind = ItemKind::kTime, .label = "Mean Access Time:      ", .times = &Summary::mean, .group = kAll},
    {.kind = ItemKind::kEmpty},
    {.kind = ItemKind::kTime, .label = "Min. Load Time:        ", .times = &Summary::minimum, .group = kLoad},
    {.kind = ItemKind::kTime, .label = "Max. Load Time:        ", .times = &Summary::maximum, .group = kLoad},
    {.kind = ItemKind::kTime, .label = "Mean Load Time:        ", .times = &Summary::mean, .group = kLoad},
    {.kind = ItemKind::kEmpty},
    {.kind = ItemKind::kTime, .label = "Min. UnLoad Time:      ", .times = &Summary::minimum, .group = kUnload},
    {.kind = ItemKind::kTime, .label = "Max. UnLoad Time:      ", .times = &Summary::maximum, .group = kUnload},
    {.kind = ItemKind::kTime, .label = "Mean UnLoad Time:      ", .times = &Summary::mean, .group = kUnload},
};
constexpr int kItemCount = static_cast<int>(std::size(kItems));

// Climate values as the console can come to print them: the controller's
// words are read as numbers of up to 31 bits; the temperature's bit 15 is
// its sign, so it is at most 3276.8 degrees.
constexpr int64_t kMaxWordValue = 2147483647;
constexpr int64_t kMaxTemperatureTenths = 32768;
constexpr int64_t kMinTemperatureTenths = -(kMaxWordValue - 32768);
constexpr int kLastBin = 600;

// --- the reader ------------------------------------------------------------------

class Reader;
using SectionLineReader = void (Reader::*)(const Line& line);

class Reader {
 public:
  Reader(std::string_view bytes, Run& run) : bytes_(bytes), lines_(bytes), run_(run) {}

  // False with error set when the bytes are not a result file.
  bool Read(Problem& error);

  // The readers of the sections' lines, one for each row of kSections: a
  // line of the section that is neither a column header line nor (unless
  // the section owns them) empty.
  void OnSystemLine(const Line& line);
  void OnClimateLine(const Line& line);
  void OnHistogramLine(const Line& line);
  void OnSummaryLine(const Line& line);

 private:
  void Note(int line, std::string text);
  void Note(int line, const char* text);
  void SawLine(const Line& line);

  // The lines of a header from its rule line (already taken) on. Each line
  // that is not as the console writes it is a problem or, for the first
  // header (strict set), the reason the bytes are not a result file.
  bool ReadHeader(const Line& rule, size_t section, Header& header, Problem* strict);
  // The section whose title stands `ahead` lines after the next one: -1 for
  // none of them, -2 when the file ends before that line.
  int TitleAt(size_t ahead);

  void OnRuleLine(const Line& line);
  void OnSectionLine(const Line& line);
  void TakeRow(const HistogramRow& row);
  bool ReadSummaryItem(int item, std::string_view text);
  // Every line of the summary, the last section, has been taken (read or not).
  bool SummaryRead() const { return item_ >= kItemCount; }
  void FlushPendingEmpty();
  void Finish();

  std::string_view bytes_;
  Lines lines_;
  Run& run_;
  size_t section_ = 0;      // the section being read, its row of kSections
  uint32_t found_ = 0;      // a bit for each section whose header was read
  size_t columnsSeen_ = 0;  // column header lines of the current section
  int pendingEmpty_ = 0;    // an empty line that belongs before the next header, if one follows
  int item_ = 0;            // the next summary line
  bool itemBad_[kItemCount] = {};
  int lastRowLine_ = 0, lastRowBin_ = -1;
  HistogramRow pendingRow_;  // the first row, until the next one agrees with it
  bool hasPendingRow_ = false;
  int lastLine_ = 0;            // the last complete line read
  bool endedInHeader_ = false;  // the file ends within a header's lines
  int firstCrlf_ = -1;          // how the first line ends: 1 CR LF, 0 LF
  bool mixedNoted_ = false;
  size_t dropped_ = 0;
};

// --- the sections ------------------------------------------------------------------
// The sections in the order the console writes them, each opened by a report
// header of its title. The first opens the file; the test summary ends it.

struct SectionKind {
  std::string_view title;                     // its header's title
  const char* name;                           // what a technician calls it (plural in messages)
  std::span<const std::string_view> columns;  // the column header lines that open it, in order
  const char* fileEndsIn;                     // follows "the file ends after line N" when it ends in it
  bool headerAtEnd;                           // its header is written when the run ends
  bool ownsEmptyLines;                        // its reader takes its empty lines (else they part sections)
  SectionLineReader read;
};

constexpr std::string_view kClimateColumns[] = {"Temp  Hmd   CO2   Opt"};
constexpr std::string_view kHistogramColumns[] = {"Time      Ready             PlateReady",
                                                  "[s]   Mean Min. Max.      Mean Min. Max."};

constexpr SectionKind kSections[] = {
    {.title = "System Data Summary",
     .name = "system data",
     .columns = {},
     .fileEndsIn = ", before the climate data",
     .headerAtEnd = false,
     .ownsEmptyLines = false,
     .read = &Reader::OnSystemLine},
    {.title = "Climate Logging Data (Interal = 60s",
     .name = "climate data",
     .columns = kClimateColumns,
     .fileEndsIn = ", in the climate data",
     .headerAtEnd = false,
     .ownsEmptyLines = false,
     .read = &Reader::OnClimateLine},
    {.title = "Handling Times Statistics",
     .name = "handling times statistics",
     .columns = kHistogramColumns,
     .fileEndsIn = ", in the handling times statistics",
     .headerAtEnd = true,
     .ownsEmptyLines = false,
     .read = &Reader::OnHistogramLine},
    {.title = "Complete Test Summary",
     .name = "test summary",
     .columns = {},
     .fileEndsIn = ", in the test summary",
     .headerAtEnd = true,
     .ownsEmptyLines = true,
     .read = &Reader::OnSummaryLine},
};
constexpr size_t kSectionCount = std::size(kSections);
static_assert(kSectionCount < 32, "Reader::found_ holds a bit for each section");

// The header's centred title lines, made once.
const std::string& CenteredTitle(size_t section) {
  static const std::vector<std::string> titles = [] {
    std::vector<std::string> t;
    for (const SectionKind& s : kSections) t.push_back(Centered(s.title));
    return t;
  }();
  return titles[section];
}

void Reader::Note(int line, std::string text) {
  if (run_.problems.size() < kMaxProblems)
    run_.problems.push_back(Problem{line, std::move(text)});
  else
    ++dropped_;
}

// The same for a fixed text, which a file of junk lines gives again and
// again: no text is made for a problem beyond the list.
void Reader::Note(int line, const char* text) {
  if (run_.problems.size() < kMaxProblems)
    run_.problems.push_back(Problem{line, text});
  else
    ++dropped_;
}

void Reader::SawLine(const Line& line) {
  lastLine_ = line.number;
  if (firstCrlf_ < 0) {
    firstCrlf_ = line.crlf ? 1 : 0;
  } else if ((firstCrlf_ == 1) != line.crlf && !mixedNoted_) {
    mixedNoted_ = true;
    Note(line.number, "line ends of both kinds (LF and CR LF) in one file: it was not written in one go");
  }
}

int Reader::TitleAt(size_t ahead) {
  const Line* title = lines_.Peek(ahead);
  if (!title) return -2;
  for (size_t s = 0; s < kSectionCount; ++s)
    if (title->text == CenteredTitle(s)) return static_cast<int>(s);
  return -1;
}

bool Reader::ReadHeader(const Line& rule, size_t section, Header& header, Problem* strict) {
  header = Header{};
  header.line = rule.number;
  header.title = std::string(kSections[section].title);
  HeaderDraft draft{header, CenteredTitle(section)};
  bool good = true;
  SawLine(rule);
  for (const HeaderLine& row : kHeaderLines) {
    Line line;
    if (!lines_.Next(line)) return false;  // the callers looked ahead: not reached
    SawLine(line);
    switch (row.read(line.text, draft)) {
      case LineVerdict::kRead:
        break;
      case LineVerdict::kNoFigure:
        Note(line.number, row.noFigure);
        break;
      case LineVerdict::kNotConsole:
        if (strict && good) *strict = Problem{line.number, row.notConsole};
        if (!strict) Note(line.number, row.notConsole);
        good = false;
        break;
    }
  }
  header.stamp.valid = draft.dateOk && draft.timeOk;
  return good;
}

bool Reader::Read(Problem& error) {
  // Whether this is a result file at all is decided by the first line's
  // bytes before anything else, so that a large file of another kind is
  // turned away at once.
  if (bytes_.empty()) {
    error = Problem{0, "the file is empty"};
    return false;
  }
  size_t i = 0;
  while (i < bytes_.size() && i < kRule.size() && bytes_[i] == '_') ++i;
  if (i == kRule.size() && i < bytes_.size() && bytes_[i] == '\r') ++i;
  if (i < bytes_.size() && (i < kRule.size() || bytes_[i] != '\n')) {
    error = Problem{1, "it does not begin with the rule line (55 underscores) of the console's report header"};
    return false;
  }
  size_t available = 0;
  while (available < kHeaderSize && lines_.Peek(available)) ++available;
  if (available < kHeaderSize) {
    error = Problem{static_cast<int>(available) + 1, "the file ends inside its first report header"};
    return false;
  }
  Line rule;
  lines_.Next(rule);
  Header first;
  Problem strict;
  if (!ReadHeader(rule, 0, first, &strict)) {
    error = Problem{strict.line, "not the console's first report header (\"" + std::string(kSections[0].title) +
                                     "\"): " + strict.text};
    return false;
  }
  run_.headers.push_back(std::move(first));
  found_ = 1;

  Line line;
  while (lines_.Next(line)) {
    if (SummaryRead()) {
      // The console writes nothing after the summary.
      const int last = line.number + lines_.SkipRest();
      Note(line.number, last == line.number ? "a line after the end of the test summary: not the console's"
                                            : "lines " + std::to_string(line.number) + " to " + std::to_string(last) +
                                                  " follow the end of the test summary: not the console's");
      lastLine_ = last;
      break;
    }
    if (line.text == kRule) {
      OnRuleLine(line);
      if (endedInHeader_) break;
      continue;
    }
    SawLine(line);
    OnSectionLine(line);
  }
  Finish();
  return true;
}

void Reader::OnRuleLine(const Line& line) {
  const int title = TitleAt(kTitleLine - 1);
  if (title == -2 || (title >= 0 && !lines_.Peek(kHeaderSize - 2))) {
    // The file ends in what is (or may well be) the next header.
    endedInHeader_ = true;
    lastLine_ = lines_.Scanned();
    return;
  }
  if (title < 0) {
    SawLine(line);
    FlushPendingEmpty();
    Note(line.number, "a rule line that does not open a report header");
    return;
  }
  const size_t next = static_cast<size_t>(title);
  if (next <= section_) {
    Header ignored;
    ReadHeader(line, next, ignored, nullptr);
    Note(line.number, "a second \"" + std::string(kSections[next].title) + "\" header, out of place (lines " +
                          std::to_string(line.number) + " to " + std::to_string(line.number + kHeaderSize - 1) +
                          "): left out");
    return;
  }
  if (pendingEmpty_ == 0) Note(line.number, "the empty line before this header is missing");
  pendingEmpty_ = 0;
  if (columnsSeen_ == 0 && !kSections[section_].columns.empty())
    Note(line.number, std::string("the ") + kSections[section_].name + " before this header have no column header");
  for (size_t s = section_ + 1; s < next; ++s)
    Note(line.number, std::string("the ") + kSections[s].name + " are missing: their header is not in the file");
  // A histogram of one readable row: nothing speaks against it.
  if (hasPendingRow_) TakeRow(pendingRow_);
  hasPendingRow_ = false;
  Header header;
  ReadHeader(line, next, header, nullptr);
  const Header& first = run_.headers.front();
  if (header.serial != -1 && header.serial != first.serial)
    Note(header.line + kSerialLine, "the serial number differs from the first header's");
  if (!header.firmware.empty() && header.firmware != first.firmware)
    Note(header.line + kSerialLine, "the firmware differs from the first header's");
  run_.headers.push_back(std::move(header));
  found_ |= 1u << next;
  section_ = next;
  columnsSeen_ = 0;
}

void Reader::FlushPendingEmpty() {
  if (pendingEmpty_ != 0) Note(pendingEmpty_, "an empty line out of place");
  pendingEmpty_ = 0;
}

void Reader::OnSectionLine(const Line& line) {
  const SectionKind& kind = kSections[section_];
  if (kind.ownsEmptyLines) {
    (this->*kind.read)(line);
    return;
  }
  // A section's lines open with its column header lines.
  const std::span<const std::string_view> columns = kind.columns;
  if (columnsSeen_ < columns.size()) {
    if (line.text == columns[columnsSeen_]) {
      ++columnsSeen_;
      return;
    }
    if (columnsSeen_ + 1 < columns.size() && line.text == columns[columnsSeen_ + 1]) {
      Note(line.number, "the column header line before this one is missing");
      columnsSeen_ += 2;
      return;
    }
    Note(line.number, "the column header line \"" + std::string(columns[columnsSeen_]) + "\" is missing here");
    columnsSeen_ = columns.size();
  } else {
    for (const std::string_view c : columns) {
      if (line.text == c) {
        FlushPendingEmpty();
        Note(line.number, "a column header line out of place");
        return;
      }
    }
  }

  // An empty line ends the section when the next header follows it.
  if (line.text.empty()) {
    FlushPendingEmpty();
    pendingEmpty_ = line.number;
    return;
  }
  FlushPendingEmpty();
  (this->*kind.read)(line);
}

// The console writes nothing between the first header and the next.
void Reader::OnSystemLine(const Line& line) {
  Note(line.number, "a line the console does not write between the system data and the climate data");
}

// Four reals of one decimal, each 5 wide or, when wider, standing alone:
// temperature (signed), humidity, CO2 and Opt (a whole number).
void Reader::OnClimateLine(const Line& line) {
  const std::string_view t = line.text;
  int64_t v[4] = {};
  size_t pos = 0;
  bool ok = t.size() <= 4 * (kMaxIntegerDigits + 3);
  for (int k = 0; ok && k < 4; ++k) ok = ReadField(t, pos, 5, Kind::kReal, k == 0, v[k]);
  ok = ok && pos == t.size() && v[0] >= kMinTemperatureTenths && v[0] <= kMaxTemperatureTenths &&
       v[1] <= kMaxWordValue && v[2] <= (kMaxWordValue + 5) / 10 && v[3] <= kMaxWordValue * 10 && v[3] % 10 == 0;
  if (!ok) {
    Note(line.number, "a climate line that does not read (four values of one decimal each): left out");
    return;
  }
  ClimateReading r;
  r.line = line.number;
  r.temperature = FromTenths(v[0]);
  r.humidity = FromTenths(v[1]);
  r.co2 = FromTenths(v[2]);
  r.opt = FromTenths(v[3]);
  run_.climate.push_back(r);
}

// The bin's time, three Ready counts, five blanks, three PlateReady counts,
// in columns 5 wide: 40 characters exactly. The counts stop at 65535, so
// five-digit ones touch; only the columns part them.
void Reader::OnHistogramLine(const Line& line) {
  const std::string_view t = line.text;
  HistogramRow row;
  row.line = line.number;
  int64_t tenths = 0;
  bool ok = t.size() == 40 && t.substr(20, 5) == "     " && WholeField(t.substr(0, 5), Kind::kReal, false, tenths) &&
            tenths % 5 == 0 && tenths / 5 <= kLastBin;
  for (int k = 0; ok && k < 6; ++k) {
    int64_t n = 0;
    ok = WholeField(t.substr(k < 3 ? 5 + 5 * k : 25 + 5 * (k - 3), 5), Kind::kInteger, false, n) && n <= kCounterMax;
    (k < 3 ? row.ready[k] : row.plateReady[k - 3]) = static_cast<uint32_t>(n);
  }
  // Each time is counted under "all" and under one of load and unload.
  for (const uint32_t* c : {row.ready, row.plateReady})
    ok = ok && (c[0] < kCounterMax ? c[0] == c[1] + c[2] : c[1] + c[2] >= kCounterMax);
  if (!ok) {
    Note(line.number, "a histogram row that does not read: left out");
    return;
  }
  row.bin = static_cast<int>(tenths / 5);
  // The bins follow one another, a line a bin. The first row's time has
  // nothing before it to be checked against, so it waits for the next row
  // to agree with it; after that a row left out leaves room for one bin.
  if (lastRowBin_ < 0) {
    if (hasPendingRow_ && row.bin == pendingRow_.bin + (row.line - pendingRow_.line)) {
      TakeRow(pendingRow_);
      TakeRow(row);
      hasPendingRow_ = false;
      return;
    }
    if (hasPendingRow_) Note(pendingRow_.line, "a histogram row whose time does not fit the rows after it: left out");
    pendingRow_ = row;
    hasPendingRow_ = true;
    return;
  }
  if (row.bin <= lastRowBin_ || row.bin > lastRowBin_ + (line.number - lastRowLine_)) {
    Note(line.number, "a histogram row whose time does not follow the row before: left out");
    return;
  }
  TakeRow(row);
}

void Reader::TakeRow(const HistogramRow& row) {
  lastRowBin_ = row.bin;
  lastRowLine_ = row.line;
  run_.histogram.push_back(row);
}

bool Reader::ReadSummaryItem(int item, std::string_view t) {
  const Item& it = kItems[item];
  Summary& s = run_.summary;
  switch (it.kind) {
    case ItemKind::kEmpty:
      return t.empty();
    case ItemKind::kProcedure:
      if (t != it.label) return false;
      s.*it.text = std::string(it.values[0]);
      return true;
    case ItemKind::kOption:
      // Label, blanks and one of the two values, 55 wide.
      for (std::string_view value : it.values) {
        if (t.size() == kBlockWidth && StartsWith(t, it.label) && t.substr(kBlockWidth - value.size()) == value &&
            t.substr(it.label.size(), kBlockWidth - value.size() - it.label.size()).find_first_not_of(' ') ==
                std::string_view::npos) {
          s.*it.text = std::string(value);
          return true;
        }
      }
      return false;
    case ItemKind::kCounter: {
      size_t pos = it.label.size();
      int64_t v = 0;
      if (t.size() > it.label.size() + 12 || !StartsWith(t, it.label) ||
          !ReadField(t, pos, 5, Kind::kInteger, it.counterMin < 0, v) || pos != t.size())
        return false;
      if (v < it.counterMin || v > it.counterMax) return false;
      s.*it.counter = v;
      if (it.counterRead) s.*it.counterRead = true;
      return true;
    }
    case ItemKind::kTime: {
      // Ready 5 wide, "  PR ", PlateReady 4 wide; either may be wider.
      size_t pos = it.label.size();
      int64_t ready = 0, plate = 0;
      if (t.size() > it.label.size() + 2 * (kMaxIntegerDigits + 2) + 5 || !StartsWith(t, it.label) ||
          !ReadField(t, pos, 5, Kind::kReal, false, ready) || t.substr(pos, 5) != "  PR ")
        return false;
      pos += 5;
      if (!ReadField(t, pos, 4, Kind::kReal, false, plate) || pos != t.size()) return false;
      (s.*it.times)[it.group] = TimeFigure{true, FromTenths(ready), FromTenths(plate)};
      return true;
    }
  }
  return false;
}

// The summary is a fixed run of lines. A line is read as the one due next;
// one that carries the label of a later line means the lines between are
// missing, and the reading goes on from there.
void Reader::OnSummaryLine(const Line& line) {
  const std::string_view t = line.text;
  int item = item_;
  if (!t.empty()) {
    for (int j = item_; j < kItemCount; ++j) {
      if (kItems[j].kind != ItemKind::kEmpty && StartsWith(t, kItems[j].label)) {
        item = j;
        break;
      }
    }
  }
  if (item > item_) {
    const bool onlyEmpty = item == item_ + 1 && kItems[item_].kind == ItemKind::kEmpty;
    Note(line.number,
         onlyEmpty ? "the empty line before this one is missing" : "summary lines before this one are missing");
    for (int j = item_; j < item; ++j) itemBad_[j] = true;
  }
  if (!ReadSummaryItem(item, t)) {
    itemBad_[item] = true;
    const Item& it = kItems[item];
    Note(line.number, it.kind == ItemKind::kEmpty
                          ? std::string("the summary has text where an empty line belongs")
                          : "the summary's \"" + TrimRight(it.label) + "\" line does not read: left out");
  }
  item_ = item + 1;
}

void Reader::Finish() {
  const std::string_view tail = lines_.Tail();
  const bool summaryRead = SummaryRead();
  const bool cut = !tail.empty();
  if (cut) {
    const int n = lines_.Scanned() + 1;
    // After a whole summary nothing of the console's can have been cut.
    Note(n, summaryRead ? "a line after the end of the test summary, without line end: not the console's"
                        : "the last line has no line end: the file was cut there, the line is left out");
  }
  if (dropped_ > 0) Note(0, "and " + std::to_string(dropped_) + " more problems, not listed");

  bool summaryGood = summaryRead;
  for (bool b : itemBad_) summaryGood = summaryGood && !b;
  run_.summary.complete = summaryGood;
  const bool sections = found_ == (1u << kSectionCount) - 1;
  run_.complete = summaryGood && sections;
  if (run_.complete) return;

  std::string& why = run_.incompleteReason;
  if (!summaryRead) {
    why = cut ? "the file ends in the middle of line " + std::to_string(lines_.Scanned() + 1)
              : "the file ends after line " + std::to_string(lastLine_);
    if (endedInHeader_)
      why += section_ + 1 < kSectionCount ? std::string(", in the header of the ") + kSections[section_ + 1].name
                                          : std::string(", in a report header");
    else
      why += kSections[section_].fileEndsIn;
    return;
  }
  for (size_t s = 1; s < kSectionCount; ++s) {
    if (!(found_ & (1u << s))) {
      why = std::string("the ") + kSections[s].name + " are missing: their header is not in the file";
      return;
    }
  }
  why = "lines of the test summary do not read: their figures are missing";
}

}  // namespace

int64_t Run::Serial() const { return headers.empty() ? -1 : headers.front().serial; }

const std::string& Run::Firmware() const {
  static const std::string none;
  return headers.empty() ? none : headers.front().firmware;
}

const std::string& Run::OperatorName() const {
  static const std::string none;
  return headers.empty() ? none : headers.front().operatorName;
}

Stamp Run::Start() const { return headers.empty() ? Stamp{} : headers.front().stamp; }

Stamp Run::End() const {
  // The headers written when the run ends come one right after the other;
  // the latest readable time among them is the end.
  for (auto h = headers.rbegin(); h != headers.rend(); ++h) {
    if (!h->stamp.valid) continue;
    for (const SectionKind& s : kSections)
      if (s.headerAtEnd && h->title == s.title) return h->stamp;
  }
  return {};
}

int64_t Run::UncountedAccesses() const {
  if (summary.totalAccesses < 0) return 0;
  int64_t binned = 0;
  for (const HistogramRow& row : histogram) binned += row.ready[kAll];
  return binned > summary.totalAccesses ? binned - summary.totalAccesses : 0;
}

bool Summary::ReadyMeasured(Group g) const { return minimum[g].present && minimum[g].ready != kNoMinimum; }

bool Summary::PlateReadyMeasured(Group g) const {
  // Without PlateReady timing the console adds 0.0 for every access, and a
  // measured PlateReady time is never below the first 0.1 s poll.
  return minimum[g].present && minimum[g].plateReady != kNoMinimum && minimum[g].plateReady > 0;
}

bool Summary::MeanMeasured(Group g) const { return ReadyMeasured(g) && (g != kAll || totalAccesses > 0); }

ReadResult ReadResultFile(std::string_view bytes, std::string_view name) {
  ReadResult result;
  result.run.file = std::string(name);
  Reader reader(bytes, result.run);
  if (reader.Read(result.error)) {
    result.status = ReadStatus::kRead;
  } else {
    result.status = ReadStatus::kNotResultFile;
    result.run = Run{};
    result.run.file = std::string(name);
  }
  return result;
}

}  // namespace report
