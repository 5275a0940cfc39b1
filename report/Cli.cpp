#include "report/Cli.h"

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TextFile.h"
#include "report/Page.h"
#include "report/ResultFile.h"

namespace report {

namespace {

constexpr const char* kUsage =
    "Usage: vekton-report [-o OUT.html] [--csv OUT.csv] [--limits FILE] [--force] FILE.spf...\n"
    "\n"
    "Reads result files of the Vekton console's random-access test and writes\n"
    "one self-contained HTML page (charts and tables, no script, nothing loaded\n"
    "from elsewhere: it opens from a USB stick) and, when asked, a CSV table\n"
    "with one row a run.\n"
    "\n"
    "  -o OUT.html     the page; without it, a single input X.spf gives X.html\n"
    "                  beside it (with several inputs, -o or --csv is needed)\n"
    "  --csv OUT.csv   the table, one row a run in the order given\n"
    "  --limits FILE   judge every run by the acceptance limits in FILE (TOML):\n"
    "                  the verdict and its criteria on the page, in the table\n"
    "                  and one line a run here\n"
    "  --force         write over a page or table that exists already\n"
    "  --help, -h      this text\n"
    "  --version       the program's version\n"
    "\n"
    "Exit status: 0 every input was read (runs cut short included) and, with\n"
    "--limits, every run accepted; 1 an input could not be read or is not a\n"
    "result file (the page and the table still hold every other run), the\n"
    "limits file was refused (nothing is written then) or an output could not\n"
    "be written; 2 a usage error; 3 with --limits, a run read is not accepted\n"
    "(1 and 2 come first).\n";

bool EndsWithNoCase(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  return std::equal(tail.begin(), tail.end(), s.end() - static_cast<std::ptrdiff_t>(tail.size()),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

// A file beside a result file: X.spf gives X followed by ending.
std::string BesideResultFile(std::string_view resultFile, const char* ending) {
  std::string path(resultFile);
  if (EndsWithNoCase(path, ".spf")) path.resize(path.size() - 4);
  return path + ending;
}

int Usage(std::ostream& err, const std::string& why) {
  err << "vekton-report: " << why << " (see --help)\n";
  return 2;
}

int WriteOutput(const std::string& path, const std::string& bytes, bool force, const char* what, std::ostream& out,
                std::ostream& err) {
  const int error = FileWriteWhole(path, bytes, force);
  if (error == 0) {
    out << what << " written: " << Shown(path) << "\n";
    return 0;
  }
  if (error == FileExistsError())
    err << "vekton-report: " << Shown(path) << " exists already; nothing written (--force writes over it)\n";
  else
    err << "vekton-report: " << Shown(path) << ": cannot write: " << FileErrorText(error) << "\n";
  return 1;
}

}  // namespace

std::string Generator() { return std::string("vekton-report ") + VEKTON_VERSION; }

std::string Shown(std::string_view text) {
  std::string s;
  for (char c : text) s.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
  return s;
}

std::string PagePathFor(std::string_view resultFile) { return BesideResultFile(resultFile, ".html"); }

std::string LineNotePathFor(std::string_view resultFile) { return BesideResultFile(resultFile, ".line.txt"); }

std::string LineNoteText(int64_t losses, int64_t downSeconds) {
  return "Line lost: " + std::to_string(losses) + "\nDown [s]: " + std::to_string(downSeconds) + "\n";
}

namespace {

// The whole number after label at the start of line; false when there is
// none or it is out of reason.
bool FigureAfter(std::string_view line, std::string_view label, int64_t& value) {
  if (line.substr(0, label.size()) != label) return false;
  line.remove_prefix(label.size());
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
  if (line.empty() || line.size() > 12) return false;
  value = 0;
  for (char c : line) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

bool ParseLineNote(std::string_view text, int64_t& losses, int64_t& downSeconds) {
  const size_t nl = text.find('\n');
  if (nl == std::string_view::npos) return false;
  std::string_view second = text.substr(nl + 1);
  if (const size_t end = second.find('\n'); end != std::string_view::npos) second = second.substr(0, end);
  int64_t l = 0, d = 0;
  if (!FigureAfter(text.substr(0, nl), "Line lost:", l) || !FigureAfter(second, "Down [s]:", d)) return false;
  losses = l;
  downSeconds = d;
  return true;
}

ReadOutcome ReadRunFile(const std::string& path, Run& run) {
  ReadOutcome o;
  std::string bytes;
  const int error = FileReadAll(path, bytes, kMaxResultFileBytes);
  if (error != 0) {
    o.message = "cannot read: " + FileErrorText(error);
    return o;
  }
  ReadResult r = ReadResultFile(bytes, path);
  if (r.status != ReadStatus::kRead) {
    o.line = r.error.line;
    o.message = "not a result file: " + r.error.text;
    return o;
  }
  run = std::move(r.run);
  o.read = true;
  // The note is a help, never a condition: one that is missing or does not
  // read leaves the run as its file says.
  std::string note;
  if (FileReadAll(LineNotePathFor(path), note, 4096) == 0) ParseLineNote(note, run.lineLosses, run.lineDownSeconds);
  return o;
}

bool ReadLimitsFile(const std::string& path, Limits& limits, std::string& message) {
  std::string bytes;
  const int error = FileReadAll(path, bytes, kMaxLimitsFileBytes);
  if (error != 0) {
    message = Shown(path) + ": cannot read: " + FileErrorText(error);
    return false;
  }
  Problem problem;
  if (ReadLimits(bytes, path, limits, problem)) return true;
  message = Shown(path) + (problem.line > 0 ? ":" + std::to_string(problem.line) : std::string()) + ": " +
            Shown(problem.text);
  return false;
}

int ReportMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string pagePath, csvPath, limitsPath;
  bool force = false, pageGiven = false, csvGiven = false, limitsGiven = false, optionsDone = false;
  std::vector<std::string> inputs;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsDone || a.empty() || a[0] != '-' || a == "-") {
      inputs.push_back(a);
    } else if (a == "--") {
      optionsDone = true;
    } else if (a == "--help" || a == "-h") {
      out << kUsage;
      return 0;
    } else if (a == "--version") {
      out << Generator() << "\n";
      return 0;
    } else if (a == "--force") {
      force = true;
    } else if (a == "--limits") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return Usage(err, a + " needs a file name");
      if (limitsGiven) return Usage(err, a + " given twice");
      limitsGiven = true;
      limitsPath = args[++i];
    } else if (a == "-o" || a == "--csv") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return Usage(err, a + " needs a file name");
      bool& given = a == "-o" ? pageGiven : csvGiven;
      if (given) return Usage(err, a + " given twice");
      given = true;
      (a == "-o" ? pagePath : csvPath) = args[++i];
    } else {
      return Usage(err, "unknown option " + Shown(a));
    }
  }
  if (inputs.empty()) return Usage(err, "no result file given");
  if (!pageGiven && !csvGiven && inputs.size() > 1)
    return Usage(err, "several result files need -o OUT.html or --csv OUT.csv");
  if (!pageGiven && inputs.size() == 1) {
    pagePath = PagePathFor(inputs.front());
    pageGiven = true;
  }
  // Results are only ever read: no output may land on one of them.
  for (const std::string* o : {&pagePath, &csvPath}) {
    if (o->empty()) continue;
    if (EndsWithNoCase(*o, ".spf") || std::find(inputs.begin(), inputs.end(), *o) != inputs.end())
      return Usage(err, "will not write over a result file: " + Shown(*o));
  }
  if (pageGiven && csvGiven && pagePath == csvPath) return Usage(err, "the page and the table need two names");

  // A limits file that does not read judges nothing and writes nothing: a
  // page without the judgement asked for would pass for one.
  Limits limits;
  if (limitsGiven) {
    std::string message;
    if (!ReadLimitsFile(limitsPath, limits, message)) {
      err << "vekton-report: " << message << "; nothing judged, nothing written\n";
      return 1;
    }
  }
  const Limits* judged = limitsGiven ? &limits : nullptr;

  int status = 0;
  std::vector<Run> runs;
  for (const std::string& path : inputs) {
    Run run;
    const ReadOutcome o = ReadRunFile(path, run);
    if (!o.read) {
      err << "vekton-report: " << Shown(path);
      if (o.line > 0) err << ":" << o.line;
      err << ": " << o.message << "\n";
      status = 1;
      continue;
    }
    for (const Problem& p : run.problems) {
      err << "vekton-report: " << Shown(path);
      if (p.line > 0) err << ":" << p.line;
      err << ": " << p.text << "\n";
    }
    if (!run.complete) err << "vekton-report: " << Shown(path) << ": incomplete: " << run.incompleteReason << "\n";
    runs.push_back(std::move(run));
  }
  if (runs.empty()) {
    err << "vekton-report: no result file could be read; nothing written\n";
    return 1;
  }
  if (pageGiven && WriteOutput(pagePath, WritePage(runs, Generator(), judged), force, "Page", out, err) != 0)
    status = 1;
  if (csvGiven && WriteOutput(csvPath, WriteCsv(runs, judged), force, "CSV", out, err) != 0) status = 1;
  if (judged) {
    bool allAccepted = true;
    for (const Run& run : runs) {
      const Judgement j = Judge(run, limits);
      out << Shown(run.file) << ": " << VerdictLine(j) << "\n";
      allAccepted = allAccepted && j.accepted;
    }
    if (!allAccepted && status == 0) status = kNotAcceptedStatus;
  }
  return status;
}

}  // namespace report
