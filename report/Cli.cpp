#include "report/Cli.h"

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Process.h"
#include "platform/TextFile.h"
#include "report/Page.h"
#include "report/ResultFile.h"

namespace report {

namespace {

constexpr const char* kUsage =
    "Usage: vekton-report [-o OUT.html] [--csv OUT.csv] [--pdf OUT.pdf] [--limits FILE] [--force] FILE.spf...\n"
    "\n"
    "Reads result files of the Vekton console's random-access test and writes\n"
    "one self-contained HTML page (charts and tables, no script, nothing loaded\n"
    "from elsewhere: it opens from a USB stick) and, when asked, a CSV table\n"
    "with one row a run and the page printed to PDF.\n"
    "\n"
    "  -o OUT.html     the page; without it, a single input X.spf gives X.html\n"
    "                  beside it (with several inputs, -o, --csv or --pdf is\n"
    "                  needed)\n"
    "  --csv OUT.csv   the table, one row a run in the order given\n"
    "  --pdf OUT.pdf   the page printed to PDF by headless Chromium (found in\n"
    "                  PATH, or the program VEKTON_CHROMIUM names)\n"
    "  --limits FILE   judge every run by the acceptance limits in FILE (TOML):\n"
    "                  the verdict and its criteria on the page, in the table\n"
    "                  and one line a run here\n"
    "  --force         write over a page, table or PDF that exists already\n"
    "  --help, -h      this text\n"
    "  --version       the program's version\n"
    "\n"
    "Exit status: 0 every input was read (runs cut short included) and, with\n"
    "--limits, every run accepted; 1 an input could not be read or is not a\n"
    "result file (the outputs still hold every other run), the limits file was\n"
    "refused (nothing is written then), or an output could not be written (no\n"
    "Chromium for --pdf among them); 2 a usage error; 3 with --limits, a run\n"
    "read is not accepted (1 and 2 come first).\n";

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

// Chromium prints a page in a few seconds; one still busy after this long
// hangs, and a script that waits for the PDF must not wait for ever.
constexpr int kPrintSeconds = 120;
// The PDF read back before it is put in place: the charts are drawn as
// lines, so even a hundred runs make some megabytes.
constexpr size_t kMaxPdfBytes = size_t{256} << 20;
// Chromium's messages shown when it failed: its last few lines say why.
constexpr size_t kShownLines = 6;
constexpr size_t kShownLineLength = 200;

// The program that prints: the one VEKTON_CHROMIUM names, else the first
// Chromium in PATH, else (on Windows) Chrome or Edge where their installers
// put them. Edge is Chromium and comes with every Windows 10 and 11. The
// install places are built from variables only Windows sets, so elsewhere
// they are never looked at. Empty when there is none; named is the value of
// VEKTON_CHROMIUM when it is set.
std::string FindChromium(std::string& named) {
  named = ProcessEnv("VEKTON_CHROMIUM");
  if (!named.empty()) return ProgramExists(named) ? named : ProgramInPath(named);
  for (const char* name : {"chromium", "chromium-browser", "google-chrome", "google-chrome-stable", "chrome", "msedge"})
    if (std::string found = ProgramInPath(name); !found.empty()) return found;
  struct Place {
    const char* variable;
    const char* tail;
  };
  static constexpr Place kPlaces[] = {
      {"ProgramFiles", "\\Google\\Chrome\\Application\\chrome.exe"},
      {"ProgramFiles(x86)", "\\Google\\Chrome\\Application\\chrome.exe"},
      {"LOCALAPPDATA", "\\Google\\Chrome\\Application\\chrome.exe"},
      {"ProgramFiles(x86)", "\\Microsoft\\Edge\\Application\\msedge.exe"},
      {"ProgramFiles", "\\Microsoft\\Edge\\Application\\msedge.exe"},
  };
  for (const Place& p : kPlaces) {
    const std::string folder = ProcessEnv(p.variable);
    if (!folder.empty() && ProgramExists(folder + p.tail)) return folder + p.tail;
  }
  return {};
}

// A file URL of an absolute name in UTF-8: every byte but the unreserved
// ones and the separators percent-encoded, so that blanks, '#', '%' and
// letters beyond ASCII reach the browser as the name they are.
std::string FileUrl(std::string_view absolute) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = absolute.substr(0, 1) == "/" ? "file://" : "file:///";
  for (char ch : absolute) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~' || c == ':') {
      url.push_back(ch);
    } else {
      url.push_back('%');
      url.push_back(kHex[c >> 4]);
      url.push_back(kHex[c & 15]);
    }
  }
  return url;
}

// A file in a folder the platform named, with the folder's own separator.
std::string InFolder(const std::string& folder, const char* name) {
  return folder + (folder.find('\\') != std::string::npos ? "\\" : "/") + name;
}

// The last lines of what Chromium said, as a message may show them.
std::string LastLines(const std::string& path) {
  std::string text;
  if (FileReadAll(path, text, size_t{4} << 20) != 0) return {};
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  std::string shown;
  for (size_t i = lines.size() > kShownLines ? lines.size() - kShownLines : 0; i < lines.size(); ++i) {
    std::string line = Shown(lines[i]);
    if (line.size() > kShownLineLength) line = line.substr(0, kShownLineLength) + "...";
    shown += "  " + line + "\n";
  }
  return shown;
}

// The temporary folder of one print, removed on every way out.
struct PrintFolder {
  std::string path;
  ~PrintFolder() { TempFolderRemove(path); }
};

// Has Chromium print page to pdfPath: the page goes to a folder of its own
// with a fresh browser profile (no one's own profile is touched, and it runs
// as root or in a CI job alike), and the PDF is put in place only once it is
// whole, under the same rules as every other output. after says what the
// user still has when it fails.
int PrintPdf(const std::string& pdfPath, const std::string& page, bool force, const std::string& after,
             std::ostream& out, std::ostream& err) {
  std::string named;
  const std::string chromium = FindChromium(named);
  const std::string notWritten = "; " + Shown(pdfPath) + " not written, " + after + "\n";
  if (chromium.empty()) {
    err << "vekton-report: no Chromium found to print " << Shown(pdfPath);
    if (!named.empty())
      err << " (VEKTON_CHROMIUM names no program: " << Shown(named) << ")";
    else
      err << " (install chromium, or set VEKTON_CHROMIUM to its program)";
    err << "; " << after << "\n";
    return 1;
  }
  PrintFolder folder;
  if (const int error = TempFolderCreate(folder.path); error != 0) {
    err << "vekton-report: cannot make a temporary folder: " << FileErrorText(error) << notWritten;
    return 1;
  }
  const std::string pagePath = InFolder(folder.path, "page.html");
  const std::string printed = InFolder(folder.path, "page.pdf");
  const std::string log = InFolder(folder.path, "chromium.log");
  if (const int error = FileWriteWhole(pagePath, page, false); error != 0) {
    err << "vekton-report: " << Shown(pagePath) << ": cannot write: " << FileErrorText(error) << notWritten;
    return 1;
  }
  const std::string absolute = AbsoluteUtf8Path(pagePath);
  if (absolute.empty()) {
    err << "vekton-report: " << Shown(pagePath) << ": no absolute name" << notWritten;
    return 1;
  }
  // --print-to-pdf-no-header is the older Chromiums' name for
  // --no-pdf-header-footer; each ignores the other's.
  const std::vector<std::string> args = {"--headless",
                                         "--no-sandbox",
                                         "--disable-gpu",
                                         "--no-first-run",
                                         "--no-default-browser-check",
                                         "--no-pdf-header-footer",
                                         "--print-to-pdf-no-header",
                                         "--user-data-dir=" + InFolder(folder.path, "profile"),
                                         "--print-to-pdf=" + printed,
                                         FileUrl(absolute)};
  const ProgramOutcome run = RunProgram(chromium, args, log, kPrintSeconds * 1000);
  if (run.error != 0) {
    err << "vekton-report: cannot run " << Shown(chromium) << ": " << FileErrorText(run.error) << notWritten;
    return 1;
  }
  if (run.timedOut) {
    err << "vekton-report: " << Shown(chromium) << " had not printed " << Shown(pdfPath) << " after " << kPrintSeconds
        << " s and was stopped" << notWritten << LastLines(log);
    return 1;
  }
  std::string pdf;
  const bool whole = FileReadAll(printed, pdf, kMaxPdfBytes) == 0 && pdf.compare(0, 5, "%PDF-") == 0;
  if (run.exitCode != 0 || !whole) {
    err << "vekton-report: " << Shown(chromium) << " did not print " << Shown(pdfPath);
    if (run.exitCode != 0) err << " (exit status " << run.exitCode << ")";
    err << notWritten << LastLines(log);
    return 1;
  }
  return WriteOutput("vekton-report", pdfPath, pdf, force, "PDF", out, err);
}

}  // namespace

int WriteOutput(std::string_view program, const std::string& path, const std::string& bytes, bool force,
                const char* what, std::ostream& out, std::ostream& err) {
  const int error = FileWriteWhole(path, bytes, force);
  if (error == 0) {
    out << what << " written: " << Shown(path) << "\n";
    return 0;
  }
  if (error == FileExistsError())
    err << program << ": " << Shown(path) << " exists already; nothing written (--force writes over it)\n";
  else
    err << program << ": " << Shown(path) << ": cannot write: " << FileErrorText(error) << "\n";
  return 1;
}

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
  std::string pagePath, csvPath, pdfPath, limitsPath;
  bool force = false, pageGiven = false, csvGiven = false, pdfGiven = false, limitsGiven = false, optionsDone = false;
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
    } else if (a == "-o" || a == "--csv" || a == "--pdf") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return Usage(err, a + " needs a file name");
      bool& given = a == "-o" ? pageGiven : a == "--csv" ? csvGiven : pdfGiven;
      if (given) return Usage(err, a + " given twice");
      given = true;
      (a == "-o" ? pagePath : a == "--csv" ? csvPath : pdfPath) = args[++i];
    } else {
      return Usage(err, "unknown option " + Shown(a));
    }
  }
  if (inputs.empty()) return Usage(err, "no result file given");
  if (!pageGiven && !csvGiven && !pdfGiven && inputs.size() > 1)
    return Usage(err, "several result files need -o OUT.html, --csv OUT.csv or --pdf OUT.pdf");
  if (!pageGiven && inputs.size() == 1) {
    pagePath = PagePathFor(inputs.front());
    pageGiven = true;
  }
  // Results are only ever read: no output may land on one of them.
  struct Output {
    const std::string& path;
    const char* what;
  };
  const Output outputs[] = {{pagePath, "the page"}, {csvPath, "the table"}, {pdfPath, "the PDF"}};
  for (const Output& o : outputs) {
    if (o.path.empty()) continue;
    if (EndsWithNoCase(o.path, ".spf") || std::find(inputs.begin(), inputs.end(), o.path) != inputs.end())
      return Usage(err, "will not write over a result file: " + Shown(o.path));
    for (const Output& other : outputs)
      if (&other < &o && other.path == o.path)
        return Usage(err, std::string(other.what) + " and " + o.what + " need two names");
  }

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
  const std::string page = pageGiven || pdfGiven ? WritePage(runs, Generator(), judged) : std::string();
  const bool pageWritten = pageGiven && WriteOutput("vekton-report", pagePath, page, force, "Page", out, err) == 0;
  if (pageGiven && !pageWritten) status = 1;
  if (csvGiven && WriteOutput("vekton-report", csvPath, WriteCsv(runs, judged), force, "CSV", out, err) != 0) status = 1;
  if (pdfGiven) {
    const std::string after = pageWritten ? "the page was written: " + Shown(pagePath)
                              : pageGiven ? std::string("nor was the page")
                                          : std::string("with -o OUT.html the page can be printed from a browser");
    if (PrintPdf(pdfPath, page, force, after, out, err) != 0) status = 1;
  }
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
