#include "trace/Cli.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/TraceRecord.h"
#include "trace/Exchanges.h"
#include "trace/Pcapng.h"
#include "trace/Reader.h"
#include "trace/Window.h"

namespace trace {

namespace {

constexpr const char* kUsage =
    "Usage: vekton-trace [--trace DIR] [--since TIME] [--until TIME] [--exchanges]\n"
    "                    [--stats] [--pcapng OUT.pcapng [--force]] [FILE.trace...]\n"
    "       vekton-trace [--trace DIR] --list\n"
    "\n"
    "Reads the trace files in which the Vekton console records its serial line\n"
    "(every byte written and read, with its time, and the events around them)\n"
    "and prints their records, the exchanges (each command with its answer),\n"
    "the figures of the exchanges and line losses, or writes them as a pcapng\n"
    "file for Wireshark. Without FILE, the newest run in the trace folder (all\n"
    "its files, in order); FILE names one file (a run's continuations are\n"
    "further files: vekton-...-PID.2.trace and on).\n"
    "\n"
    "  --trace DIR          the trace folder (the console's --trace); without\n"
    "                       it, the user's: $XDG_STATE_HOME/vekton/trace or\n"
    "                       ~/.local/state/vekton/trace (Windows:\n"
    "                       %LOCALAPPDATA%\\Vekton\\trace)\n"
    "  --list               the runs in the folder, one line a run\n"
    "  --exchanges          one line an exchange: the command's time, the\n"
    "                       command, its answer or \"no answer\", and the answer\n"
    "                       time in ms, separated by tabs\n"
    "  --stats              exchanges, answer times (min, median, 99th\n"
    "                       percentile, max), no answers, error answers by code\n"
    "                       and line losses\n"
    "  --pcapng OUT.pcapng  the records as a pcapng file (link type USER0)\n"
    "  --force              write over a pcapng file that exists already\n"
    "  --since TIME         only from TIME on: 23:10, 23:10:05 (the first such\n"
    "                       time from the run's start on) or 2026-12-08T23:10:05\n"
    "                       (local time; with Z or +01:00 an offset from UTC)\n"
    "  --until TIME         only before TIME, written as for --since\n"
    "  --help, -h           this text\n"
    "  --version            the program's version\n"
    "\n"
    "Exit status: 0 every record read, 1 a file could not be read or holds\n"
    "lines that are not records (stderr names each with its line number; the\n"
    "rest is still read) or the pcapng file could not be written, 2 a usage\n"
    "error.\n";

// Output goes to the stream in blocks: a day's records are a million lines.
constexpr size_t kFlushAt = size_t{1} << 18;
// A file that is no trace at all would name every line; after these many a
// file's further bad lines are only counted.
constexpr int64_t kBadLinesShown = 20;

std::string Shown(std::string_view text) {
  std::string s;
  for (char c : text) s.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
  return s;
}

int Usage(std::ostream& err, const std::string& why) {
  err << "vekton-trace: " << why << " (see --help)\n";
  return 2;
}

std::string FolderShown(const std::string& folder) { return folder.empty() ? std::string(".") : Shown(folder); }

// "2026-12-08 23:22:56": a record's local time to the second.
std::string ListTime(const Record& r) {
  std::string t = FormatWallClock(r.wallUs, r.offsetMinutes).substr(0, 19);
  t[10] = ' ';
  return t;
}

std::string SizeText(uint64_t bytes) {
  char buf[32];
  if (bytes < 1'000'000)
    std::snprintf(buf, sizeof buf, "%llu kB", static_cast<unsigned long long>((bytes + 999) / 1000));
  else
    std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return buf;
}

int List(const std::string& folder, std::ostream& out, std::ostream& err) {
  std::vector<RunFiles> runs;
  if (const int e = FindRuns(folder, runs); e != 0) {
    err << "vekton-trace: " << FolderShown(folder) << ": cannot read the folder: " << ReadErrorText(e) << "\n";
    return 1;
  }
  int status = 0;
  std::vector<std::array<std::string, 6>> rows;
  rows.push_back({"Start", "End", "Port", "Operator", "Size", "File"});
  for (const RunFiles& run : runs) {
    std::array<std::string, 6> row{"?", "?", "?", "?", "", run.parts.front().name};
    uint64_t bytes = 0;
    for (const RunPart& p : run.parts) bytes += p.bytes;
    row[4] = SizeText(bytes);
    FileEnds first, last;
    if (const int e = ReadFileEnds(run.parts.front().path, first); e != 0) {
      err << "vekton-trace: " << Shown(run.parts.front().path) << ": cannot read: " << ReadErrorText(e) << "\n";
      status = 1;
    } else {
      Header h;
      if (first.hasFirst && first.first.word == Word::kHead && ParseHeader(first.first.payload, h)) {
        row[0] = ListTime(first.first);
        row[2] = std::to_string(h.port) + " " + Shown(h.line);
        row[3] = Shown(h.operatorName);
      } else {
        err << "vekton-trace: " << Shown(run.parts.front().path) << ":1: not a trace file's HEAD record\n";
        status = 1;
      }
    }
    if (run.parts.size() == 1)
      last = first;
    else if (ReadFileEnds(run.parts.back().path, last) != 0)
      last = {};
    if (last.hasLast) row[1] = ListTime(last.last);
    rows.push_back(std::move(row));
  }
  std::array<size_t, 6> width{};
  for (const auto& row : rows)
    for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      // Size is a number: right-aligned; the name last, without padding.
      if (i == 4)
        line += std::string(width[i] - row[i].size(), ' ') + row[i];
      else if (i == 5)
        line += row[i];
      else
        line += row[i] + std::string(width[i] - row[i].size(), ' ');
      if (i + 1 < row.size()) line += "  ";
    }
    out << line << "\n";
  }
  return status;
}

// The pcapng file, written as it is made in blocks; removed again when it
// could not be written whole, so no half file is left behind.
class PcapngOut {
 public:
  // 0 or the system's error code.
  int Open(const std::string& path) {
    path_ = path;
    errno = 0;
    file_.open(path, std::ios::binary | std::ios::trunc);
    return file_.good() ? 0 : (errno != 0 ? errno : EIO);
  }
  std::string& Buffer() { return buf_; }
  void Flush(bool always) {
    if (buf_.size() < kFlushAt * 4 && !always) return;
    if (file_.good()) file_.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
    buf_.clear();
  }
  bool Close() {
    Flush(true);
    file_.close();
    if (file_.fail()) {
      std::error_code ec;
      std::filesystem::remove(path_, ec);
      return false;
    }
    return true;
  }

 private:
  std::string path_;
  std::ofstream file_;
  std::string buf_;
};

struct Options {
  std::string folder;
  bool folderGiven = false, list = false, exchanges = false, stats = false, force = false;
  std::string pcapng;
  bool pcapngGiven = false;
  Window window;
  std::vector<std::string> files;
};

// Reads the command line; 0 to go on, else the exit status (2, or 0 after
// --help and --version).
int ReadOptions(const std::vector<std::string>& args, Options& o, bool& done, std::ostream& out, std::ostream& err) {
  done = false;
  bool optionsDone = false, sinceGiven = false, untilGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](bool& given, std::string& into) {
      if (i + 1 >= args.size() || args[i + 1].empty()) return Usage(err, a + " needs a value");
      if (given) return Usage(err, a + " given twice");
      given = true;
      into = args[++i];
      return 0;
    };
    if (optionsDone || a.empty() || a[0] != '-' || a == "-") {
      o.files.push_back(a);
    } else if (a == "--") {
      optionsDone = true;
    } else if (a == "--help" || a == "-h") {
      out << kUsage;
      done = true;
      return 0;
    } else if (a == "--version") {
      out << Generator() << "\n";
      done = true;
      return 0;
    } else if (a == "--list") {
      o.list = true;
    } else if (a == "--exchanges") {
      o.exchanges = true;
    } else if (a == "--stats") {
      o.stats = true;
    } else if (a == "--force") {
      o.force = true;
    } else if (a == "--trace") {
      if (const int s = value(o.folderGiven, o.folder); s != 0) return s;
    } else if (a == "--pcapng") {
      if (const int s = value(o.pcapngGiven, o.pcapng); s != 0) return s;
    } else if (a == "--since" || a == "--until") {
      std::string text;
      if (const int s = value(a == "--since" ? sinceGiven : untilGiven, text); s != 0) return s;
      if (!ParseTimeBound(text, a == "--since" ? o.window.since : o.window.until))
        return Usage(err, a + " takes a time such as 23:10, 23:10:05 or 2026-12-08T23:10:05, not " + Shown(text));
    } else {
      return Usage(err, "unknown option " + Shown(a));
    }
  }
  if (o.list && (o.exchanges || o.stats || o.pcapngGiven || sinceGiven || untilGiven || !o.files.empty()))
    return Usage(err, "--list lists the folder's runs and takes no other option or file");
  if (o.force && !o.pcapngGiven) return Usage(err, "--force goes with --pcapng");
  if (o.pcapngGiven) {
    std::string key;
    int part = 0;
    if (ParseFileName(std::filesystem::path(o.pcapng).filename().string(), key, part) ||
        std::find(o.files.begin(), o.files.end(), o.pcapng) != o.files.end())
      return Usage(err, "will not write over a trace file: " + Shown(o.pcapng));
  }
  return 0;
}

// The files to read: those given, or the folder's newest run. Files given
// that are all named as trace files are read in their runs' and parts'
// order, each once, so that a shell's pattern (which sorts vekton-X.2.trace
// before vekton-X.trace) reads a run as it was written.
int Inputs(Options& o, std::ostream& err) {
  if (!o.files.empty()) {
    struct Named {
      std::string key;
      int part;
      std::string path;
    };
    std::vector<Named> named;
    for (const std::string& f : o.files) {
      Named n{"", 0, f};
      if (!ParseFileName(std::filesystem::path(f).filename().string(), n.key, n.part)) return 0;
      named.push_back(std::move(n));
    }
    std::stable_sort(named.begin(), named.end(),
                     [](const Named& a, const Named& b) { return a.key != b.key ? a.key < b.key : a.part < b.part; });
    o.files.clear();
    for (const Named& n : named)
      if (std::find(o.files.begin(), o.files.end(), n.path) == o.files.end()) o.files.push_back(n.path);
    return 0;
  }
  std::vector<RunFiles> runs;
  if (const int e = FindRuns(o.folder, runs); e != 0) {
    err << "vekton-trace: " << FolderShown(o.folder) << ": cannot read the folder: " << ReadErrorText(e) << "\n";
    return 1;
  }
  if (runs.empty()) {
    err << "vekton-trace: no trace files in " << FolderShown(o.folder) << "\n";
    return 1;
  }
  for (const RunPart& p : runs.back().parts) o.files.push_back(p.path);
  return 0;
}

}  // namespace

std::string Generator() { return std::string("vekton-trace ") + VEKTON_VERSION; }

std::string EnvironmentFolder() {
#ifdef _WIN32
  constexpr bool kWindows = true;
#else
  constexpr bool kWindows = false;
#endif
  return DefaultFolder(kWindows, std::getenv("XDG_STATE_HOME"), std::getenv("HOME"), std::getenv("LOCALAPPDATA"));
}

int TraceMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const std::string& defaultFolder) {
  Options o;
  bool done = false;
  if (const int s = ReadOptions(args, o, done, out, err); s != 0 || done) return s;
  if (!o.folderGiven) o.folder = defaultFolder;
  if ((o.list || o.files.empty()) && o.folder.empty())
    return Usage(err, "no trace folder: the environment names no home; give --trace DIR");
  if (o.list) return List(o.folder, out, err);
  if (const int s = Inputs(o, err); s != 0) return s;

  std::unique_ptr<PcapngOut> pcap;
  if (o.pcapngGiven) {
    std::error_code ec;
    if (!o.force && std::filesystem::exists(o.pcapng, ec)) {
      err << "vekton-trace: " << Shown(o.pcapng) << " exists already; nothing written (--force writes over it)\n";
      return 1;
    }
    pcap = std::make_unique<PcapngOut>();
    if (const int e = pcap->Open(o.pcapng); e != 0) {
      err << "vekton-trace: " << Shown(o.pcapng) << ": cannot write: " << ReadErrorText(e) << "\n";
      return 1;
    }
    AppendPcapngStart(pcap->Buffer(), Generator());
  }

  const bool print = !o.exchanges && !o.stats && !o.pcapngGiven;
  std::string text;  // what goes to out, in blocks
  auto flush = [&](bool always) {
    if (text.size() < kFlushAt && !always) return;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    text.clear();
  };
  Stats stats;
  std::optional<Pairing> pairing;
  std::optional<LossWatch> losses;
  if (o.exchanges || o.stats)
    pairing.emplace([&](const Exchange& e) {
      if (!o.window.Contains(e.wallUs, e.offsetMinutes)) return;
      if (o.stats) AddExchange(stats, e);
      if (o.exchanges) {
        AppendExchangeLine(e, text);
        flush(false);
      }
    });
  if (o.stats)
    losses.emplace([&](const Loss& l) {
      if (o.window.Contains(l.wallUs, l.offsetMinutes)) AddLoss(stats, l);
    });

  int status = 0;
  bool first = true;
  std::string path;
  int64_t badLines = 0;
  const RecordSink onRecord = [&](const Record& r, std::string_view line) {
    // A run's end and what it leaves open count before the next one starts.
    if (pairing) pairing->Feed(r);
    if (losses) losses->Feed(r);
    if (first || r.word == Word::kHead) {
      Header h;
      if (first || !ParseHeader(r.payload, h) || h.part <= 1) o.window.StartRun(r);
      first = false;
    }
    if (!o.window.Contains(r)) return;
    if (print) {
      text.append(line);
      text += '\n';
      flush(false);
    }
    if (pcap) {
      AppendPcapngRecord(pcap->Buffer(), r);
      pcap->Flush(false);
    }
  };
  const BadLineSink onBad = [&](int64_t lineNumber, const std::string& why) {
    status = 1;
    if (++badLines > kBadLinesShown) return;
    flush(true);
    err << "vekton-trace: " << Shown(path) << ":" << lineNumber << ": not a record: " << why << "\n";
  };
  for (const std::string& f : o.files) {
    path = f;
    badLines = 0;
    if (const int e = ReadTraceFile(f, onRecord, onBad); e != 0) {
      flush(true);
      err << "vekton-trace: " << Shown(f) << ": cannot read: " << ReadErrorText(e) << "\n";
      status = 1;
    }
    if (badLines > kBadLinesShown) {
      flush(true);
      err << "vekton-trace: " << Shown(f) << ": " << badLines - kBadLinesShown << " more lines that are not records\n";
    }
  }
  if (pairing) pairing->Finish();
  if (losses) losses->Finish();
  if (o.stats) text += FormatStats(stats);
  flush(true);
  out.flush();
  if (pcap) {
    if (pcap->Close()) {
      if (!o.exchanges && !o.stats) out << "Pcapng written: " << Shown(o.pcapng) << "\n";
    } else {
      err << "vekton-trace: " << Shown(o.pcapng) << ": cannot write: the file could not be written whole\n";
      status = 1;
    }
  }
  return status;
}

}  // namespace trace
