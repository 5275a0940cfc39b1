#include "archive/Cli.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "archive/Drift.h"
#include "archive/FleetPage.h"
#include "platform/TextFile.h"
#include "report/Acceptance.h"
#include "report/Cli.h"
#include "report/Page.h"
#include "report/PageParts.h"

namespace archive {

namespace {

using report::Shown;
using report::page::CleanText;

constexpr const char* kUsage =
    "Usage: vekton-archive DB COMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "Keeps the result files of the Vekton console's random-access test, each\n"
    "run once, with the service events of every store, in one archive file DB\n"
    "(SQLite, on a local disk), and tells which store is getting slower.\n"
    "\n"
    "Commands:\n"
    "  DB add FILE.spf...               import result files (DB made when missing)\n"
    "  DB event SERIAL DATE TEXT [--note]\n"
    "                                   a service event of a store: DATE as\n"
    "                                   YYYY-MM-DD or \"YYYY-MM-DD HH:MM\", TEXT of\n"
    "                                   1 to 200 bytes; --note: it did not change\n"
    "                                   the mechanics (firmware, a remark)\n"
    "  DB events [SERIAL]               the events, by store and date\n"
    "  DB stores                        one line a store, with its drift\n"
    "  DB runs [SERIAL]                 one line a run, by store and start\n"
    "  DB page -o OUT.html [--store SERIAL] [--limits FILE]\n"
    "                                   the fleet's page\n"
    "  DB csv -o OUT.csv [--store SERIAL] [--limits FILE]\n"
    "                                   one row a run, by store and start\n"
    "\n"
    "  -o FILE              the page or the table to write\n"
    "  --store SERIAL       only this store\n"
    "  --limits FILE        judge by the acceptance limits in FILE (TOML): the\n"
    "                       last run of each store on the page, every run in the\n"
    "                       table\n"
    "  --note               (event) not a change of the mechanics\n"
    "  --share S            drift: the rise of the mean over the baseline that\n"
    "                       counts (default 0.10)\n"
    "  --significance P     drift: the test's level (default 0.01)\n"
    "  --force              write over a page or table that exists already\n"
    "  --help, -h           this text\n"
    "  --version            the program's version\n"
    "\n"
    "Exit status: 0 done; 1 a file was not imported (the others were), the\n"
    "archive could not be opened or written, the limits file was refused, or\n"
    "an output could not be written; 2 a usage error.\n";

constexpr size_t kMaxEventText = 200;

int Usage(std::ostream& err, const std::string& why) {
  err << "vekton-archive: " << why << " (see --help)\n";
  return 2;
}

bool EndsWithNoCase(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = s[s.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

// A store's serial number as typed: digits only, as the header has them.
bool ParseSerial(std::string_view s, int64_t& serial) {
  if (s.empty() || s.size() > 12) return false;
  serial = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    serial = serial * 10 + (c - '0');
  }
  return true;
}

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM", a real day of this century: the
// result files' two-digit years cannot name any other.
bool ParseDate(std::string_view s, report::Stamp& when, bool& dayOnly) {
  if (s.size() != 10 && s.size() != 16) return false;
  const auto num = [&](size_t pos, size_t len, int& out) {
    out = 0;
    for (size_t i = pos; i < pos + len; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      out = out * 10 + (s[i] - '0');
    }
    return true;
  };
  report::Stamp t;
  if (s[4] != '-' || s[7] != '-' || !num(0, 4, t.year) || !num(5, 2, t.month) || !num(8, 2, t.day)) return false;
  if (t.year < 2000 || t.year > 2099 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > report::fields::DaysInMonth(t.year, t.month))
    return false;
  dayOnly = s.size() == 10;
  if (!dayOnly && (s[10] != ' ' || s[13] != ':' || !num(11, 2, t.hour) || !num(14, 2, t.minute) || t.hour > 23 ||
                   t.minute > 59))
    return false;
  t.valid = true;
  when = t;
  return true;
}

// A plain decimal with a point, whatever the locale.
bool ParseReal(const std::string& s, double& v) {
  const char* end = s.data() + s.size();
  const auto r = std::from_chars(s.data(), end, v, std::chars_format::fixed);
  return !s.empty() && r.ec == std::errc() && r.ptr == end;
}

// --- tables ----------------------------------------------------------------------

// Plain text in columns fitted to their contents; the cells are UTF-8 made
// safe, and a column is as wide as its most characters.
struct Table {
  std::vector<std::string> head;
  std::vector<bool> right;  // numbers right-aligned
  std::vector<std::vector<std::string>> rows;
};

size_t Columns(std::string_view utf8) {
  size_t n = 0;
  for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

void Print(std::ostream& out, const Table& t) {
  std::vector<size_t> width(t.head.size());
  for (size_t c = 0; c < t.head.size(); ++c) width[c] = Columns(t.head[c]);
  for (const auto& row : t.rows)
    for (size_t c = 0; c < row.size() && c < width.size(); ++c) width[c] = std::max(width[c], Columns(row[c]));
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string s;
    for (size_t c = 0; c < cells.size() && c < width.size(); ++c) {
      const std::string pad(width[c] - Columns(cells[c]), ' ');
      if (c > 0) s += "  ";
      s += t.right[c] ? pad + cells[c] : cells[c] + pad;
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    out << s << "\n";
  };
  line(t.head);
  std::vector<std::string> rule;
  for (size_t w : width) rule.emplace_back(w, '-');
  line(rule);
  for (const auto& row : t.rows) line(row);
}

std::string SerialText(int64_t serial) { return serial >= 0 ? report::page::Integer(serial) : "?"; }
std::string StartText(const report::Stamp& s) { return s.valid ? s.Date() + " " + s.Time().substr(0, 5) : "?"; }
std::string Seconds(double v) { return v >= 0 ? report::page::Fixed(v, 1) : "-"; }
std::string Count(int64_t v) { return v >= 0 ? report::page::Integer(v) : "-"; }
std::string FileText(std::string_view name) { return CleanText(name); }

// --- the commands ------------------------------------------------------------------

struct Options {
  std::string db, command;
  std::vector<std::string> args;
  std::string out, limits;
  bool outGiven = false, limitsGiven = false, storeGiven = false, note = false, force = false;
  int64_t store = -1;
  DriftSettings drift;
};

std::unique_ptr<Archive> OpenOrSay(const Options& o, bool create, std::ostream& err) {
  std::string error;
  std::unique_ptr<Archive> archive = Archive::Open(o.db, create, error);
  if (!archive) err << "vekton-archive: " << Shown(o.db) << ": " << Shown(error) << "\n";
  return archive;
}

int Add(const Options& o, std::ostream& out, std::ostream& err) {
  std::unique_ptr<Archive> archive = OpenOrSay(o, true, err);
  if (!archive) return 1;
  int added = 0, replaced = 0, there = 0, skipped = 0;
  for (const std::string& path : o.args) {
    const AddResult r = archive->AddFile(path);
    switch (r.outcome) {
      case AddOutcome::kAdded:
        ++added;
        out << "added: " << Shown(path) << " (SNr. " << SerialText(r.serial) << ", start " << StartText(r.start)
            << ")\n";
        break;
      case AddOutcome::kReplaced:
        ++replaced;
        out << "replaced its shorter self: " << Shown(path) << "\n";
        break;
      case AddOutcome::kAlreadyThere:
        ++there;
        out << "already in the archive: " << Shown(path) << "\n";
        break;
      case AddOutcome::kArchiveHasMore:
        ++there;
        out << "the archive holds more of this run: " << Shown(path) << "\n";
        break;
      default:
        ++skipped;
        err << "vekton-archive: " << Shown(path);
        if (r.line > 0) err << ":" << r.line;
        err << ": " << Shown(r.message) << "\n";
    }
  }
  out << added << " added, " << replaced << " replaced, " << there << " already there, " << skipped << " skipped\n";
  return skipped > 0 ? 1 : 0;
}

int AddEventCommand(const Options& o, std::ostream& out, std::ostream& err) {
  Event e;
  if (!ParseSerial(o.args[0], e.serial)) return Usage(err, "not a serial number: " + Shown(o.args[0]));
  if (!ParseDate(o.args[1], e.when, e.dayOnly))
    return Usage(err, "not a date: " + Shown(o.args[1]) + " (YYYY-MM-DD or \"YYYY-MM-DD HH:MM\")");
  e.text = o.args[2];
  if (e.text.empty() || e.text.size() > kMaxEventText)
    return Usage(err, "the text must be 1 to " + std::to_string(kMaxEventText) + " bytes");
  // CleanText changes exactly the bytes that are not UTF-8 and the control
  // characters.
  if (CleanText(e.text) != e.text) return Usage(err, "the text holds control characters or is not UTF-8");
  e.mechanics = !o.note;
  std::unique_ptr<Archive> archive = OpenOrSay(o, true, err);
  if (!archive) return 1;
  std::string error;
  if (!archive->AddEvent(e, error)) {
    err << "vekton-archive: " << Shown(o.db) << ": cannot write the archive: " << Shown(error) << "\n";
    return 1;
  }
  out << "event of SNr. " << e.serial << " on " << o.args[1] << " (" << (e.mechanics ? "mechanics" : "note")
      << "): " << e.text << "\n";
  return 0;
}

int EventsCommand(Archive& archive, int64_t serial, std::ostream& out) {
  const std::vector<Event> events = archive.Events(serial);
  if (events.empty()) {
    out << (serial >= 0 ? "no events of SNr. " + std::to_string(serial) : std::string("no events in the archive"))
        << "\n";
    return 0;
  }
  Table t{{"Date", "SNr.", "Kind", "Text"}, {false, true, false, false}, {}};
  for (const Event& e : events)
    t.rows.push_back({e.dayOnly ? e.when.Date() : StartText(e.when), SerialText(e.serial),
                      e.mechanics ? "mechanics" : "note", CleanText(e.text)});
  Print(out, t);
  return 0;
}

std::string DriftText(const Drift& d) {
  if (d.state == Drift::kDrifting) return "DRIFTING: " + d.Figures();
  if (d.state == Drift::kSteady) return "steady: " + d.Figures();
  return d.Figures();
}

int StoresCommand(Archive& archive, const DriftSettings& settings, std::ostream& out) {
  Table t{{"SNr.", "Runs", "First run", "Last run", "Mean [s]", "Max [s]", "Drift"},
          {true, true, false, false, true, true, false},
          {}};
  for (int64_t serial : archive.Serials()) {
    const std::vector<StoredRun> runs = archive.Runs(serial);
    if (runs.empty()) continue;
    const Drift d = FindDrift(runs, archive.Events(serial), settings);
    // The store as it stands: its newest run's times.
    const report::RunFigures& last = runs.back().figures;
    t.rows.push_back({SerialText(serial), std::to_string(runs.size()), StartText(runs.front().figures.start),
                      StartText(last.start), Seconds(last.mean), Seconds(last.max), CleanText(DriftText(d))});
  }
  if (t.rows.empty()) {
    out << "the archive holds no runs\n";
    return 0;
  }
  Print(out, t);
  return 0;
}

int RunsCommand(Archive& archive, int64_t serial, std::ostream& out) {
  const std::vector<StoredRun> runs = archive.Runs(serial);
  if (runs.empty()) {
    out << (serial >= 0 ? "no runs of SNr. " + std::to_string(serial) : std::string("the archive holds no runs"))
        << "\n";
    return 0;
  }
  Table t{{"Id", "SNr.", "Start", "Length", "Marks", "Accesses", "Errors", "Mean [s]", "Max [s]", "File"},
          {true, true, false, true, false, true, true, true, true, false},
          {}};
  for (const StoredRun& s : runs) {
    const report::RunFigures& f = s.figures;
    t.rows.push_back({std::to_string(s.id), SerialText(f.serial), StartText(f.start),
                      f.seconds >= 0 ? report::page::Duration(f.seconds) : "-", report::Marks(f),
                      Count(f.totalAccesses), Count(f.carPosErrors),
                      Seconds(f.mean), Seconds(f.max), FileText(f.file)});
  }
  Print(out, t);
  return 0;
}

// A run's file read back from the archive, with the line note's figures it
// was imported with. False when the bytes no longer read (a damaged
// archive).
bool RunBack(Archive& archive, const StoredRun& s, report::Run& run) {
  std::string bytes;
  if (!archive.RunBytes(s.id, bytes)) return false;
  report::ReadResult r = report::ReadResultFile(bytes, s.figures.file);
  if (r.status != report::ReadStatus::kRead) return false;
  run = std::move(r.run);
  run.lineLosses = s.figures.lineLosses;
  run.lineDownSeconds = s.figures.lineDownSeconds;
  return true;
}

// The stores a page or a table covers; false (said) when --store names one
// the archive does not know: a typo must not give an empty page.
bool StoresOf(Archive& archive, const Options& o, std::vector<int64_t>& serials, std::ostream& err) {
  serials = archive.Serials();
  if (!o.storeGiven) return true;
  for (int64_t s : serials)
    if (s == o.store) {
      serials = {s};
      return true;
    }
  err << "vekton-archive: " << Shown(o.db) << " holds nothing of SNr. " << o.store << "; nothing written\n";
  return false;
}

int PageCommand(Archive& archive, const Options& o, const report::Limits* limits, std::ostream& out,
                std::ostream& err) {
  std::vector<int64_t> serials;
  if (!StoresOf(archive, o, serials, err)) return 1;
  std::vector<StoreHistory> stores;
  for (int64_t serial : serials) {
    StoreHistory h;
    h.serial = serial;
    h.runs = archive.Runs(serial);
    h.events = archive.Events(serial);
    h.drift = FindDrift(h.runs, h.events, o.drift);
    report::Run last;
    if (limits && !h.runs.empty() && RunBack(archive, h.runs.back(), last)) {
      const report::Judgement j = report::Judge(last, *limits);
      h.lastAccepted = j.accepted ? 1 : 0;
      h.lastVerdict = report::VerdictLine(j);
      constexpr std::string_view kPrefix = "Acceptance: ";
      if (h.lastVerdict.compare(0, kPrefix.size(), kPrefix) == 0) h.lastVerdict.erase(0, kPrefix.size());
    }
    stores.push_back(std::move(h));
  }
  const std::string page =
      WriteFleetPage(stores, std::string("vekton-archive ") + VEKTON_VERSION, limits ? o.limits : std::string());
  return report::WriteOutput("vekton-archive", o.out, page, o.force, "Page", out, err);
}

int CsvCommand(Archive& archive, const Options& o, const report::Limits* limits, std::ostream& out,
               std::ostream& err) {
  std::vector<int64_t> serials;
  if (!StoresOf(archive, o, serials, err)) return 1;
  std::string csv = report::kCsvStart;
  std::vector<std::string> cells = report::CsvHeader(limits);
  cells.push_back("events_before");
  report::AppendCsvLine(csv, cells);
  int status = 0;
  // One run read back at a time: the table, not the runs, is what is held.
  for (int64_t serial : serials) {
    const std::vector<Event> events = archive.Events(serial);
    size_t before = 0;
    for (const StoredRun& s : archive.Runs(serial)) {
      report::Run run;
      if (!RunBack(archive, s, run)) {
        err << "vekton-archive: run " << s.id << " (" << Shown(s.figures.file) << ") does not read back; left out\n";
        status = 1;
        continue;
      }
      cells.clear();
      report::CsvRow(run, limits, cells);
      const report::Stamp& start = s.figures.start;
      if (start.valid) {
        while (before < events.size() && events[before].when.Seconds() < start.Seconds()) ++before;
        cells.push_back(std::to_string(before));
      } else {
        cells.emplace_back();
      }
      report::AppendCsvLine(csv, cells);
    }
  }
  return std::max(status, report::WriteOutput("vekton-archive", o.out, csv, o.force, "CSV", out, err));
}

}  // namespace

int ArchiveMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  std::vector<std::string> positional;
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&](std::string& to, bool& given) {
      if (i + 1 >= args.size() || args[i + 1].empty()) return Usage(err, a + " needs a value");
      if (given) return Usage(err, a + " given twice");
      given = true;
      to = args[++i];
      return 0;
    };
    bool ignored = false;
    std::string text;
    if (optionsDone || a.empty() || a[0] != '-' || a == "-") {
      positional.push_back(a);
    } else if (a == "--") {
      optionsDone = true;
    } else if (a == "--help" || a == "-h") {
      out << kUsage;
      return 0;
    } else if (a == "--version") {
      out << "vekton-archive " << VEKTON_VERSION << "\n";
      return 0;
    } else if (a == "--force") {
      o.force = true;
    } else if (a == "--note") {
      o.note = true;
    } else if (a == "-o") {
      if (int s = value(o.out, o.outGiven)) return s;
    } else if (a == "--limits") {
      if (int s = value(o.limits, o.limitsGiven)) return s;
    } else if (a == "--store") {
      if (int s = value(text, o.storeGiven)) return s;
      if (!ParseSerial(text, o.store)) return Usage(err, "not a serial number: " + Shown(text));
    } else if (a == "--share" || a == "--significance") {
      if (int s = value(text, ignored)) return s;
      double v = 0;
      const bool share = a == "--share";
      if (!ParseReal(text, v) || (share ? v < 0 || v > 10 : v <= 0 || v >= 1))
        return Usage(err, a + " needs " + (share ? "a share from 0 to 10" : "a level between 0 and 1") + ": " +
                              Shown(text));
      (share ? o.drift.share : o.drift.significance) = v;
    } else {
      return Usage(err, "unknown option " + Shown(a));
    }
  }
  if (positional.empty()) return Usage(err, "no archive given");
  if (positional.size() < 2) return Usage(err, "no command given");
  o.db = positional[0];
  o.command = positional[1];
  o.args.assign(positional.begin() + 2, positional.end());
  const std::string& c = o.command;

  // Each command takes its own arguments and options.
  const bool writes = c == "page" || c == "csv";
  size_t least = 0, most = 0;
  if (c == "add") least = 1, most = static_cast<size_t>(-1);
  else if (c == "event") least = most = 3;
  else if (c == "events" || c == "runs") most = 1;
  else if (c != "stores" && !writes) return Usage(err, "unknown command " + Shown(c));
  if (o.args.size() < least) return Usage(err, c + (c == "add" ? " needs result files" : " needs SERIAL DATE TEXT"));
  if (o.args.size() > most) return Usage(err, "too many arguments for " + c + ": " + Shown(o.args[most]));
  if (o.note && c != "event") return Usage(err, "--note is an option of event");
  if (!writes && (o.outGiven || o.limitsGiven || o.storeGiven))
    return Usage(err, std::string(o.outGiven ? "-o" : o.limitsGiven ? "--limits" : "--store") +
                          " is an option of page and csv");
  int64_t serial = -1;
  if ((c == "events" || c == "runs") && !o.args.empty() && !ParseSerial(o.args[0], serial))
    return Usage(err, "not a serial number: " + Shown(o.args[0]));
  if (writes) {
    if (!o.outGiven) return Usage(err, c + " needs -o " + (c == "page" ? "OUT.html" : "OUT.csv"));
    // Nothing the archive holds or was made from may be written over.
    if (EndsWithNoCase(o.out, ".spf") || o.out == o.db || o.out == o.db + "-wal" || o.out == o.db + "-shm")
      return Usage(err, "will not write over a result file or the archive: " + Shown(o.out));
  }

  if (c == "add") return Add(o, out, err);
  if (c == "event") return AddEventCommand(o, out, err);

  // A limits file that does not read judges nothing and writes nothing.
  report::Limits limits;
  if (o.limitsGiven) {
    std::string message;
    if (!report::ReadLimitsFile(o.limits, limits, message)) {
      err << "vekton-archive: " << message << "; nothing judged, nothing written\n";
      return 1;
    }
  }
  std::unique_ptr<Archive> archive = OpenOrSay(o, false, err);
  if (!archive) return 1;
  if (c == "events") return EventsCommand(*archive, serial, out);
  if (c == "runs") return RunsCommand(*archive, serial, out);
  if (c == "stores") return StoresCommand(*archive, o.drift, out);
  const report::Limits* judged = o.limitsGiven ? &limits : nullptr;
  if (c == "page") return PageCommand(*archive, o, judged, out, err);
  return CsvCommand(*archive, o, judged, out, err);
}

}  // namespace archive
