// The result file reader on any bytes: it never crashes, and what it hands
// back keeps to its rules (bins 0..600 in order, line numbers inside the
// file, a complete run with its whole summary, no control character in a
// text made for the page). Cut anywhere, the input reads as incomplete with
// the whole input's figures where the cut has them; with CR LF for LF it
// reads the same.
#include <algorithm>
#include <string>
#include <string_view>

#include "fuzz/checks/FuzzChecks.h"
#include "report/ResultFile.h"

namespace {

using report::ReadResult;
using report::ReadStatus;
using report::Run;

bool ValidStamp(const report::Stamp& s) {
  return !s.valid || (s.year >= 2000 && s.year <= 2099 && s.month >= 1 && s.month <= 12 && s.day >= 1 &&
                      s.day <= 31 && s.hour >= 0 && s.hour <= 23 && s.minute >= 0 && s.minute <= 59 &&
                      s.second >= 0 && s.second <= 59 && s.Seconds() >= 0 && s.Date().size() == 10 &&
                      s.Time().size() == 8);
}

// UTF-8 without a C0 control or DEL, every sequence whole.
bool PrintableUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F) return false;
    const size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

bool WholeSummary(const report::Summary& s) {
  bool all = s.totalAccesses >= 0 && s.totalAccesses <= 65535 && s.hasIntervalSeconds && s.hasCarPosErrors &&
             s.procedure == "Fast";
  for (const std::string* t : {&s.access, &s.cassettes, &s.plateTrace, &s.addressing, &s.cassetteLevels})
    all = all && !t->empty();
  for (int g = 0; g < 3; ++g) all = all && s.minimum[g].present && s.maximum[g].present && s.mean[g].present;
  return all;
}

void CheckRules(const ReadResult& r, std::string_view bytes) {
  const int lines = static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n')) +
                    (!bytes.empty() && bytes.back() != '\n' ? 1 : 0);
  if (r.status == ReadStatus::kNotResultFile) {
    FUZZ_CHECK(!r.error.text.empty(), "a file turned away without a reason");
    FUZZ_CHECK(r.error.line >= 0 && r.error.line <= lines + 1, "the reason names a line beyond the file");
    FUZZ_CHECK(r.run.headers.empty() && r.run.climate.empty(), "a file turned away still has figures");
    return;
  }
  const Run& run = r.run;
  FUZZ_CHECK(!run.headers.empty() && run.headers.size() <= 4, "a run without its first header, or with more than 4");
  FUZZ_CHECK(run.headers[0].line == 1 && run.headers[0].title == "System Data Summary", "the first header misread");
  int previous = -8;
  for (const report::Header& h : run.headers) {
    FUZZ_CHECK(h.line >= previous + 9 && h.line + 8 <= lines, "headers overlap or pass the end of the file");
    FUZZ_CHECK(ValidStamp(h.stamp), "a header's stamp out of range");
    FUZZ_CHECK(PrintableUtf8(report::Cp437ToUtf8(h.operatorName)), "a control character in the operator's name");
    previous = h.line;
  }
  for (const report::Problem& p : run.problems)
    FUZZ_CHECK(p.line >= 0 && p.line <= lines && !p.text.empty(), "a problem beyond the file, or unexplained");
  previous = 0;
  for (const report::ClimateReading& c : run.climate) {
    FUZZ_CHECK(c.line > previous && c.line <= lines, "climate lines out of order or beyond the file");
    FUZZ_CHECK(c.temperature <= 3276.8 && c.humidity >= 0 && c.co2 >= 0 && c.opt >= 0, "a climate value out of range");
    previous = c.line;
  }
  previous = 0;
  int bin = -1;
  for (const report::HistogramRow& h : run.histogram) {
    FUZZ_CHECK(h.line > previous && h.line <= lines, "histogram rows out of order or beyond the file");
    FUZZ_CHECK(h.bin > bin && h.bin <= 600 && h.bin - bin <= h.line - previous, "bins out of order or beyond 600");
    for (const uint32_t* c : {h.ready, h.plateReady})
      FUZZ_CHECK(c[0] <= 65535 && c[1] <= 65535 && c[2] <= 65535 &&
                     (c[0] < 65535 ? c[0] == c[1] + c[2] : c[1] + c[2] >= 65535),
                 "a row whose counts do not add up");
    previous = h.line;
    bin = h.bin;
  }
  FUZZ_CHECK(run.complete == run.incompleteReason.empty(), "complete and a reason, or incomplete without one");
  FUZZ_CHECK(!run.summary.complete || WholeSummary(run.summary), "a complete summary with a figure missing");
  FUZZ_CHECK(!run.complete || (run.summary.complete && run.headers.size() == 4), "complete without every section");
  FUZZ_CHECK(ValidStamp(run.End()) && run.UncountedAccesses() >= 0, "the run's end or uncounted accesses wrong");
}

bool SameFigure(const report::TimeFigure& a, const report::TimeFigure& b) {
  return !a.present || (b.present && a.ready == b.ready && a.plateReady == b.plateReady);
}

template <typename T>
const T* AtLine(const std::vector<T>& items, int line) {
  auto it = std::lower_bound(items.begin(), items.end(), line, [](const T& x, int l) { return x.line < l; });
  return it != items.end() && it->line == line ? &*it : nullptr;
}

// Every figure of `part` is the one `full` has at the same line.
bool Agrees(const Run& part, const Run& full) {
  if (part.headers.size() > full.headers.size()) return false;
  for (size_t i = 0; i < part.headers.size(); ++i) {
    const report::Header &a = part.headers[i], &b = full.headers[i];
    if (a.line != b.line || a.title != b.title || a.stamp.valid != b.stamp.valid ||
        a.stamp.Seconds() != b.stamp.Seconds() || a.operatorName != b.operatorName || a.serial != b.serial ||
        a.firmware != b.firmware)
      return false;
  }
  for (const report::ClimateReading& a : part.climate) {
    const report::ClimateReading* b = AtLine(full.climate, a.line);
    if (!b || a.temperature != b->temperature || a.humidity != b->humidity || a.co2 != b->co2 || a.opt != b->opt)
      return false;
  }
  for (const report::HistogramRow& a : part.histogram) {
    const report::HistogramRow* b = AtLine(full.histogram, a.line);
    if (!b || a.bin != b->bin || !std::equal(a.ready, a.ready + 3, b->ready) ||
        !std::equal(a.plateReady, a.plateReady + 3, b->plateReady))
      return false;
  }
  const report::Summary &s = part.summary, &t = full.summary;
  for (auto m : {&report::Summary::access, &report::Summary::cassettes, &report::Summary::plateTrace,
                 &report::Summary::addressing, &report::Summary::cassetteLevels, &report::Summary::procedure})
    if (!(s.*m).empty() && s.*m != t.*m) return false;
  if (s.totalAccesses != -1 && s.totalAccesses != t.totalAccesses) return false;
  if (s.hasIntervalSeconds && (!t.hasIntervalSeconds || s.intervalSeconds != t.intervalSeconds)) return false;
  if (s.hasCarPosErrors && (!t.hasCarPosErrors || s.carPosErrors != t.carPosErrors)) return false;
  for (int g = 0; g < 3; ++g)
    if (!SameFigure(s.minimum[g], t.minimum[g]) || !SameFigure(s.maximum[g], t.maximum[g]) ||
        !SameFigure(s.mean[g], t.mean[g]))
      return false;
  return true;
}

}  // namespace

void CheckReadResultFile(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const ReadResult full = report::ReadResultFile(bytes, "fuzz.spf");
  CheckRules(full, bytes);
  FUZZ_CHECK(PrintableUtf8(report::Cp437ToUtf8(bytes)), "a control character from the code page conversion");

  // Cuts: at a third, at two thirds, just before the last byte, and one
  // place that depends on the bytes.
  uint32_t hash = 2166136261u;
  for (char c : bytes) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
  const size_t cuts[] = {size / 3, size * 2 / 3, size > 0 ? size - 1 : 0, size > 0 ? hash % size : 0};
  for (size_t n : cuts) {
    if (n >= size) continue;
    const std::string_view part = bytes.substr(0, n);
    const ReadResult cut = report::ReadResultFile(part, "fuzz.spf");
    CheckRules(cut, part);
    if (cut.status != ReadStatus::kRead) continue;
    FUZZ_CHECK(full.status == ReadStatus::kRead, "a cut is read where the whole is not a result file");
    FUZZ_CHECK(Agrees(cut.run, full.run), "a cut has a figure the whole file does not have");
    FUZZ_CHECK(!cut.run.complete || full.run.complete, "a cut is complete where the whole is not");
  }

  // Written on Windows: the same run.
  if (bytes.find('\r') == std::string_view::npos) {
    std::string crlf;
    for (char c : bytes) {
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    const ReadResult windows = report::ReadResultFile(crlf, "fuzz.spf");
    FUZZ_CHECK(windows.status == full.status, "CR LF changes whether it is a result file");
    if (windows.status == ReadStatus::kRead)
      FUZZ_CHECK(windows.run.complete == full.run.complete && Agrees(windows.run, full.run) &&
                     Agrees(full.run, windows.run) && windows.run.problems.size() == full.run.problems.size(),
                 "CR LF reads differently from LF");
  }
}
