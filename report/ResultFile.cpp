// The result file read back. The console writes it line by line in fixed
// forms, so the reader checks every line against the one form it may have at
// its place and takes a figure only from a line that has exactly that form.
// A line that does not is noted and left out; the sections are found again
// by their headers, which no data line can be taken for. A last line without
// its line end may be cut short anywhere, so it is never read.
#include "report/ResultFile.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/cp437.h"

namespace report {

namespace {

constexpr size_t kBlockWidth = 55;
// The console builds each line in a text of at most 255 bytes.
constexpr size_t kMaxConsoleLine = 255;
const std::string_view kRule = "_______________________________________________________";
const std::string_view kProgramLine = "Vekton System Test * V 3.02v, 10.12.07";
const std::string_view kClimateColumns = "Temp  Hmd   CO2   Opt";
const std::string_view kHistogramColumns[2] = {"Time      Ready             PlateReady",
                                               "[s]   Mean Min. Max.      Mean Min. Max."};

// The sections in the order the console writes them, each opened by a header
// of this title.
enum Section { kSystem = 0, kClimate = 1, kStatistics = 2, kSummary = 3, kSectionCount = 4 };
const std::string_view kTitles[kSectionCount] = {"System Data Summary", "Climate Logging Data (Interal = 60s",
                                                 "Handling Times Statistics", "Complete Test Summary"};
// The sections as a technician calls them.
const char* const kSectionNames[kSectionCount] = {"system data", "climate data", "handling times statistics",
                                                  "test summary"};

// A run full of damage would otherwise list every line; the first ones tell
// the story.
constexpr size_t kMaxProblems = 200;

// The widest figures the console can print: a 32-bit count of hundredths or
// a controller word read as a 32-bit number, in tenths. More digits than
// this are damage, and keep every figure exact in 64 bits.
constexpr size_t kMaxIntegerDigits = 14;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// --- numbers as the console prints them ------------------------------------
// Reals come from "%W.1f": an optional minus, digits without a leading zero
// (but "0" itself), a point and exactly one digit. After that one digit the
// number has ended, so reals written one against the other still part
// unambiguously, and no cut of one can be read as another.

bool ReadDigits(std::string_view s, size_t& pos, int64_t& value) {
  const size_t start = pos;
  value = 0;
  while (pos < s.size() && IsDigit(s[pos])) {
    if (pos - start == kMaxIntegerDigits) return false;
    value = value * 10 + (s[pos] - '0');
    ++pos;
  }
  const size_t n = pos - start;
  return n > 0 && !(n > 1 && s[start] == '0');
}

// One real in tenths; pos is moved past it.
bool ReadTenths(std::string_view s, size_t& pos, bool mayBeNegative, int64_t& tenths) {
  size_t p = pos;
  const bool negative = p < s.size() && s[p] == '-';
  if (negative) {
    if (!mayBeNegative) return false;
    ++p;
  }
  int64_t whole = 0;
  if (!ReadDigits(s, p, whole)) return false;
  if (p + 1 >= s.size() || s[p] != '.' || !IsDigit(s[p + 1])) return false;
  tenths = whole * 10 + (s[p + 1] - '0');
  if (negative) {
    if (tenths == 0) return false;  // "%f" of a number the console can hold never gives -0.0
    tenths = -tenths;
  }
  pos = p + 2;
  return true;
}

bool ReadInteger(std::string_view s, size_t& pos, bool mayBeNegative, int64_t& value) {
  size_t p = pos;
  const bool negative = p < s.size() && s[p] == '-';
  if (negative) {
    if (!mayBeNegative) return false;
    ++p;
  }
  if (!ReadDigits(s, p, value)) return false;
  if (negative) {
    if (value == 0) return false;
    value = -value;
  }
  pos = p;
  return true;
}

// A number right-aligned in a field of `width`: blanks and the number fill
// the width exactly, or, when the number is wider, it stands alone without
// a blank. So a blank-padded field can neither be short nor be followed by
// more digits of its own.
enum class Kind { kReal, kInteger };
bool ReadField(std::string_view s, size_t& pos, size_t width, Kind kind, bool mayBeNegative, int64_t& value) {
  size_t p = pos;
  while (p < s.size() && s[p] == ' ') ++p;
  const size_t blanks = p - pos;
  const size_t start = p;
  const bool ok =
      kind == Kind::kReal ? ReadTenths(s, p, mayBeNegative, value) : ReadInteger(s, p, mayBeNegative, value);
  if (!ok) return false;
  const size_t length = p - start;
  if (blanks > 0 ? blanks + length != width : length < width) return false;
  pos = p;
  return true;
}

// A whole field that is the number and nothing else.
bool WholeField(std::string_view field, Kind kind, bool mayBeNegative, int64_t& value) {
  size_t pos = 0;
  return ReadField(field, pos, field.size(), kind, mayBeNegative, value) && pos == field.size();
}

double FromTenths(int64_t tenths) { return static_cast<double>(tenths) / 10.0; }

std::string Centered(std::string_view text) {
  std::string s;
  if (text.size() < kBlockWidth) s.assign((kBlockWidth - text.size()) / 2, ' ');
  s.append(text);
  return s;
}

// The header's centred lines, made once.
const std::string& CenteredTitle(int section) {
  static const std::string titles[kSectionCount] = {Centered(kTitles[0]), Centered(kTitles[1]), Centered(kTitles[2]),
                                                    Centered(kTitles[3])};
  return titles[section];
}
const std::string& CenteredProgramLine() {
  static const std::string line = Centered(kProgramLine);
  return line;
}

// --- calendar ----------------------------------------------------------------

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

bool TwoDigits(std::string_view s, size_t at, int& value) {
  if (!IsDigit(s[at]) || !IsDigit(s[at + 1])) return false;
  value = (s[at] - '0') * 10 + (s[at + 1] - '0');
  return true;
}

// "DD-MM-YY", the year as 20YY.
bool ReadDate(std::string_view s, Stamp& stamp) {
  int day = 0, month = 0, year = 0;
  if (s.size() != 8 || s[2] != '-' || s[5] != '-') return false;
  if (!TwoDigits(s, 0, day) || !TwoDigits(s, 3, month) || !TwoDigits(s, 6, year)) return false;
  year += 2000;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  stamp.year = year;
  stamp.month = month;
  stamp.day = day;
  return true;
}

// "HH:MM:SS".
bool ReadTime(std::string_view s, Stamp& stamp) {
  int hour = 0, minute = 0, second = 0;
  if (s.size() != 8 || s[2] != ':' || s[5] != ':') return false;
  if (!TwoDigits(s, 0, hour) || !TwoDigits(s, 3, minute) || !TwoDigits(s, 6, second)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  stamp.hour = hour;
  stamp.minute = minute;
  stamp.second = second;
  return true;
}

std::string TrimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
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

// --- the summary's lines ---------------------------------------------------------

enum class ItemKind { kOption, kEmpty, kProcedure, kCounter, kTime };

struct Item {
  ItemKind kind;
  std::string_view label;
  int index;  // option 0..4, counter 0..2, time line: group * 3 + (0 min, 1 max, 2 mean)
};

const Item kItems[] = {
    {ItemKind::kOption, "Access: ", 0},
    {ItemKind::kOption, "Cassettes: ", 1},
    {ItemKind::kOption, "PlateTrace: ", 2},
    {ItemKind::kOption, "Addressing: ", 3},
    {ItemKind::kOption, "Cassette Levels: ", 4},
    {ItemKind::kEmpty, "", 0},
    {ItemKind::kProcedure, "Access Procedure:       Fast", 0},
    {ItemKind::kEmpty, "", 0},
    {ItemKind::kCounter, "Total Accesses:        ", 0},
    {ItemKind::kCounter, "Access Interval [Sec]: ", 1},
    {ItemKind::kCounter, "Car. Pos. Errs         ", 2},
    {ItemKind::kEmpty, "", 0},
    {ItemKind::kTime, "Min. Access Time:      ", 0},
    {ItemKind::kTime, "Max. Access Time:      ", 1},
    {ItemKind::kTime, "Mean Access Time:      ", 2},
    {ItemKind::kEmpty, "", 0},
    {ItemKind::kTime, "Min. Load Time:        ", 3},
    {ItemKind::kTime, "Max. Load Time:        ", 4},
    {ItemKind::kTime, "Mean Load Time:        ", 5},
    {ItemKind::kEmpty, "", 0},
    {ItemKind::kTime, "Min. UnLoad Time:      ", 6},
    {ItemKind::kTime, "Max. UnLoad Time:      ", 7},
    {ItemKind::kTime, "Mean UnLoad Time:      ", 8},
};
constexpr int kItemCount = static_cast<int>(sizeof kItems / sizeof kItems[0]);

// The two values each option line can show.
const std::string_view kOptionValues[5][2] = {
    {"Including Gate Cycle", "No Gate Cycle"},
    {"One-Plate Non-Inverted Test Mode", "Filled Inverted Test Mode"},
    {"Actived", "Not Activated"},
    {"Cassettes Look-Up Table", "Native DM-Values"},
    {"Bi-Level", "Single Level"},
};

// Climate values as the console can come to print them: the controller's
// words are read as numbers of up to 31 bits; the temperature's bit 15 is
// its sign, so it is at most 3276.8 degrees.
constexpr int64_t kMaxWordValue = 2147483647;
constexpr int64_t kMaxTemperatureTenths = 32768;
constexpr int64_t kMinTemperatureTenths = -(kMaxWordValue - 32768);
constexpr uint32_t kCounterMax = 65535;
constexpr int kLastBin = 600;

// --- the reader ------------------------------------------------------------------

class Reader {
 public:
  Reader(std::string_view bytes, Run& run) : bytes_(bytes), lines_(bytes), run_(run) {}

  // False with error set when the bytes are not a result file.
  bool Read(Problem& error);

 private:
  void Note(int line, std::string text);
  void Note(int line, const char* text);
  void SawLine(const Line& line);

  // The nine lines of a header from its rule line (already taken) on. Each
  // line that is not as the console writes it is a problem or, for the
  // first header (strict set), the reason the bytes are not a result file.
  bool ReadHeader(const Line& rule, Section section, Header& header, Problem* strict);
  // The section whose title stands `ahead` lines after the next one: -1 for
  // none of the four, -2 when the file ends before that line.
  int TitleAt(size_t ahead);

  void OnRuleLine(const Line& line);
  void OnSectionLine(const Line& line);
  void OnClimateLine(const Line& line);
  void OnHistogramLine(const Line& line);
  void TakeRow(const HistogramRow& row);
  void OnSummaryLine(const Line& line);
  bool ReadSummaryItem(int item, std::string_view text);
  void FlushPendingEmpty();
  void Finish();

  std::string_view bytes_;
  Lines lines_;
  Run& run_;
  Section section_ = kSystem;
  bool found_[kSectionCount] = {};
  size_t columnsSeen_ = 0;  // column header lines of the current section
  int pendingEmpty_ = 0;    // an empty line that belongs before the next header, if one follows
  int item_ = 0;            // the next summary line
  bool itemBad_[kItemCount] = {};
  int lastRowLine_ = 0, lastRowBin_ = -1;
  HistogramRow pendingRow_;  // the first row, until the next one agrees with it
  bool hasPendingRow_ = false;
  int lastLine_ = 0;            // the last complete line read
  bool endedInHeader_ = false;  // the file ends within a header's nine lines
  int firstCrlf_ = -1;          // how the first line ends: 1 CR LF, 0 LF
  bool mixedNoted_ = false;
  size_t dropped_ = 0;
};

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
  for (int s = 0; s < kSectionCount; ++s)
    if (title->text == CenteredTitle(s)) return s;
  return -1;
}

bool Reader::ReadHeader(const Line& rule, Section section, Header& header, Problem* strict) {
  header = Header{};
  header.line = rule.number;
  header.title = std::string(kTitles[section]);
  bool dateOk = false, timeOk = false, good = true;
  auto bad = [&](int line, const char* text) {
    if (strict && good) *strict = Problem{line, text};
    if (!strict) Note(line, text);
    good = false;
  };
  SawLine(rule);
  for (int i = 1; i < 9; ++i) {
    Line line;
    if (!lines_.Next(line)) return false;  // the callers looked ahead: not reached
    SawLine(line);
    const std::string_view t = line.text;
    switch (i) {
      case 1: {
        // "Quendal AG", blanks and the date. A clock set before 2000 makes
        // the console print a year of three characters; that is the clock's
        // fault, not the file's: the date is then missing, the file is read.
        const std::string_view left = "Quendal AG";
        const size_t dateAt = t.find_last_of(' ') + 1;
        const std::string_view date = t.substr(std::min(dateAt, t.size()));
        const bool form =
            t.size() == kBlockWidth && StartsWith(t, left) && dateAt > left.size() &&
            t.substr(left.size(), dateAt - left.size()).find_first_not_of(' ') == std::string_view::npos &&
            (date.size() == 8 || date.size() == 9) && date.find_first_not_of("0123456789-") == std::string_view::npos;
        dateOk = form && ReadDate(date, header.stamp);
        if (!form)
          bad(line.number, "the header's date line does not read (\"Quendal AG\" and a date DD-MM-YY)");
        else if (!dateOk)
          Note(line.number, "the header's date is no day of the calendar (the console's clock?): no date for it");
        break;
      }
      case 2:
        // The operator's name, blanks up to the time in the last eight
        // columns; a long name leaves no blanks, and one that fills the
        // console's 255 bytes has pushed the time off the end.
        if (t.size() >= kBlockWidth && ReadTime(t.substr(t.size() - 8), header.stamp)) {
          timeOk = true;
          header.operatorName = TrimRight(t.substr(0, t.size() - 8));
        } else if (t.size() == kMaxConsoleLine) {
          header.operatorName = TrimRight(t.substr(0, kMaxConsoleLine - 8));
          Note(line.number, "the operator's name fills the header line: the console cut the time off");
        } else {
          bad(line.number, "the header's operator and time line does not read (a name and HH:MM:SS)");
        }
        break;
      case 3:
      case 6:
      case 8:
        if (!t.empty()) bad(line.number, "the header has text where its empty line belongs");
        break;
      case 4:
        if (t != CenteredProgramLine()) bad(line.number, "the header's program line is not the console's");
        break;
      case 5:
        if (t != CenteredTitle(section)) bad(line.number, "the header's title is not the one expected here");
        break;
      case 7: {
        // "SNr. # " and the serial number, blanks, "Firmware " and the
        // firmware word (at most 65535) as thousands, hundreds and the rest.
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
        if (ok) {
          header.serial = serial;
          header.firmware = std::string(t.substr(versionAt));
        } else {
          bad(line.number, "the header's serial number and firmware line does not read");
        }
        break;
      }
      default:
        break;
    }
  }
  header.stamp.valid = dateOk && timeOk;
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
  while (available < 9 && lines_.Peek(available)) ++available;
  if (available < 9) {
    error = Problem{static_cast<int>(available) + 1, "the file ends inside its first report header"};
    return false;
  }
  Line rule;
  lines_.Next(rule);
  Header first;
  Problem strict;
  if (!ReadHeader(rule, kSystem, first, &strict)) {
    error = Problem{strict.line, "not the console's first report header (\"System Data Summary\"): " + strict.text};
    return false;
  }
  run_.headers.push_back(std::move(first));
  found_[kSystem] = true;

  Line line;
  while (lines_.Next(line)) {
    if (section_ == kSummary && item_ >= kItemCount) {
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
  // The rest of a header is eight lines; its title is the fifth of them.
  const int title = TitleAt(4);
  if (title == -2 || (title >= 0 && !lines_.Peek(7))) {
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
  const Section next = static_cast<Section>(title);
  if (next <= section_) {
    Header ignored;
    ReadHeader(line, next, ignored, nullptr);
    Note(line.number, "a second \"" + std::string(kTitles[next]) + "\" header, out of place (lines " +
                          std::to_string(line.number) + " to " + std::to_string(line.number + 8) + "): left out");
    return;
  }
  if (pendingEmpty_ == 0) Note(line.number, "the empty line before this header is missing");
  pendingEmpty_ = 0;
  if (columnsSeen_ == 0 && (section_ == kClimate || section_ == kStatistics))
    Note(line.number, std::string("the ") + kSectionNames[section_] + " before this header have no column header");
  for (int s = section_ + 1; s < next; ++s)
    Note(line.number, std::string("the ") + kSectionNames[s] + " are missing: their header is not in the file");
  // A histogram of one readable row: nothing speaks against it.
  if (hasPendingRow_) TakeRow(pendingRow_);
  hasPendingRow_ = false;
  Header header;
  ReadHeader(line, next, header, nullptr);
  const Header& first = run_.headers.front();
  if (header.serial != -1 && header.serial != first.serial)
    Note(header.line + 7, "the serial number differs from the first header's");
  if (!header.firmware.empty() && header.firmware != first.firmware)
    Note(header.line + 7, "the firmware differs from the first header's");
  run_.headers.push_back(std::move(header));
  found_[next] = true;
  section_ = next;
  columnsSeen_ = 0;
}

void Reader::FlushPendingEmpty() {
  if (pendingEmpty_ != 0) Note(pendingEmpty_, "an empty line out of place");
  pendingEmpty_ = 0;
}

void Reader::OnSectionLine(const Line& line) {
  if (section_ == kSummary) {
    OnSummaryLine(line);
    return;
  }
  // The climate data and the histogram open with their column header lines.
  const std::string_view* columns = section_ == kClimate ? &kClimateColumns : kHistogramColumns;
  const size_t columnCount = section_ == kClimate ? 1 : section_ == kStatistics ? 2 : 0;
  if (columnsSeen_ < columnCount) {
    if (line.text == columns[columnsSeen_]) {
      ++columnsSeen_;
      return;
    }
    if (columnsSeen_ + 1 < columnCount && line.text == columns[columnsSeen_ + 1]) {
      Note(line.number, "the column header line before this one is missing");
      columnsSeen_ += 2;
      return;
    }
    Note(line.number, "the column header line \"" + std::string(columns[columnsSeen_]) + "\" is missing here");
    columnsSeen_ = columnCount;
  } else {
    for (size_t c = 0; c < columnCount; ++c) {
      if (line.text == columns[c]) {
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
  if (section_ == kClimate)
    OnClimateLine(line);
  else if (section_ == kStatistics)
    OnHistogramLine(line);
  else
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
      s.procedure = "Fast";
      return true;
    case ItemKind::kOption:
      // Label, blanks and one of the two values, 55 wide.
      for (std::string_view value : kOptionValues[it.index]) {
        if (t.size() == kBlockWidth && StartsWith(t, it.label) && t.substr(kBlockWidth - value.size()) == value &&
            t.substr(it.label.size(), kBlockWidth - value.size() - it.label.size()).find_first_not_of(' ') ==
                std::string_view::npos) {
          std::string* options[5] = {&s.access, &s.cassettes, &s.plateTrace, &s.addressing, &s.cassetteLevels};
          *options[it.index] = std::string(value);
          return true;
        }
      }
      return false;
    case ItemKind::kCounter: {
      // The total is the console's 16-bit count; the interval and the
      // errors are 32-bit and may be negative.
      size_t pos = it.label.size();
      int64_t v = 0;
      const bool total = it.index == 0;
      if (t.size() > it.label.size() + 12 || !StartsWith(t, it.label) ||
          !ReadField(t, pos, 5, Kind::kInteger, !total, v) || pos != t.size())
        return false;
      if (total ? v > kCounterMax : v < INT32_MIN || v > INT32_MAX) return false;
      (total ? s.totalAccesses : it.index == 1 ? s.intervalSeconds : s.carPosErrors) = v;
      if (it.index == 1) s.hasIntervalSeconds = true;
      if (it.index == 2) s.hasCarPosErrors = true;
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
      TimeFigure* rows[3] = {s.minimum, s.maximum, s.mean};
      rows[it.index % 3][it.index / 3] = TimeFigure{true, FromTenths(ready), FromTenths(plate)};
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
  const bool summaryRead = section_ == kSummary && item_ >= kItemCount;
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
  bool sections = true;
  for (bool f : found_) sections = sections && f;
  run_.complete = summaryGood && sections;
  if (run_.complete) return;

  std::string& why = run_.incompleteReason;
  if (!summaryRead) {
    why = cut ? "the file ends in the middle of line " + std::to_string(lines_.Scanned() + 1)
              : "the file ends after line " + std::to_string(lastLine_);
    if (endedInHeader_)
      why += section_ < kSummary ? std::string(", in the header of the ") + kSectionNames[section_ + 1]
                                 : std::string(", in a report header");
    else if (section_ == kSystem)
      why += ", before the climate data";
    else
      why += std::string(", in the ") + kSectionNames[section_];
    return;
  }
  for (int s = kClimate; s < kSectionCount; ++s) {
    if (!found_[s]) {
      why = std::string("the ") + kSectionNames[s] + " are missing: their header is not in the file";
      return;
    }
  }
  why = "lines of the test summary do not read: their figures are missing";
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

int64_t Stamp::Seconds() const {
  if (!valid) return 0;
  int64_t days = 0;
  for (int y = 2000; y < year; ++y) days += IsLeap(y) ? 366 : 365;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  days += day - 1;
  return ((days * 24 + hour) * 60 + minute) * 60 + second;
}

std::string Stamp::Date() const {
  if (!valid) return {};
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  return buf;
}

std::string Stamp::Time() const {
  if (!valid) return {};
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hour, minute, second);
  return buf;
}

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
  // The statistics and the summary headers are written when the run ends,
  // one right after the other; the climate header is written at its start.
  for (auto h = headers.rbegin(); h != headers.rend(); ++h)
    if ((h->title == kTitles[kSummary] || h->title == kTitles[kStatistics]) && h->stamp.valid) return h->stamp;
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

std::string Cp437ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    char32_t cp = kCp437ToUnicode[static_cast<unsigned char>(c)];
    // The table draws the control codes as glyphs; should it ever hand one
    // back as a control, it must not reach a page or a table as one.
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) cp = 0xFFFD;
    AppendUtf8(out, cp);
  }
  return out;
}

}  // namespace report
