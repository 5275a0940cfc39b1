#include "console/CommandLine.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "console/ArchiveHook.h"
#include "report/Cli.h"

namespace {

constexpr const char* kHelp =
    "Usage: vekton [--help | --version]\n"
    "       vekton [--trace DIR] [--trace-max MB] [--no-trace] [--limits FILE]\n"
    "              [--archive DB]\n"
    "\n"
    "The Vekton service console: the tests and service screens of the Vekton\n"
    "automated microplate store, over one serial line to the store's KV-PLC.\n"
    "Started without arguments it takes over the terminal (80 x 25 characters)\n"
    "and asks for the port's number; Esc leaves every screen, and choice 0 of\n"
    "the main menu ends the program.\n"
    "\n"
    "Port n (1 to 128) is\n"
    "  VEKTON_COM<n>     when that variable is set: a device path (Linux only,\n"
    "                    e.g. /dev/ttyUSB0 or /dev/serial/by-id/...),\n"
    "                    tcp://HOST:PORT (a raw TCP connection: ser2net's raw\n"
    "                    mode, a device server, vekton-sim --listen) or\n"
    "                    rfc2217://HOST:PORT (Telnet with the COM Port Control\n"
    "                    option; the remote line is set to 9600 baud, even\n"
    "                    parity, 8 data bits, 1 stop bit)\n"
    "  /dev/ttyS<n-1>    otherwise, on Linux (port 1 is /dev/ttyS0)\n"
    "  COMn              otherwise, on Windows\n"
    "\n"
    "The console needs a terminal: standard input and output must both be one\n"
    "(on Windows, a console window), and on Linux TERM must name a terminal\n"
    "type that can move the cursor. Otherwise it says why in one line and ends\n"
    "with status 2, drawing nothing.\n"
    "\n"
    "The line's trace: every byte the console writes to the port and reads\n"
    "from it is kept with its time, beside the choices, tests and result files,\n"
    "in a trace file (one a run, vekton-YYYYMMDD-HHMMSS-PID.trace) of the trace\n"
    "folder, by default\n"
    "  on Linux    $XDG_STATE_HOME/vekton/trace, else ~/.local/state/vekton/trace\n"
    "  on Windows  %LOCALAPPDATA%\\Vekton\\trace\n"
    "Past the folder's bound its oldest trace files go. A folder that cannot be\n"
    "made or written does not stop the console: the main menu's last line says\n"
    "\"Trace stopped:\" with the file and the system's error code.\n"
    "\n"
    "Acceptance: when the folder the console is started in (where it writes\n"
    "its result files) holds limits.toml, or --limits names a file, the\n"
    "random-access test's report page is judged by those limits, and one line\n"
    "after the summary says the verdict (\"Acceptance: accepted ...\" or\n"
    "\"Acceptance: NOT accepted: ...\" with the first criterion that failed).\n"
    "The file is read again when the page is written. A --limits file that\n"
    "cannot be read or is refused stops the start with its line and reason.\n"
    "\n"
    "The archive: with --archive DB, each random-access run's result file goes\n"
    "into the archive DB (vekton-archive's, made when missing) once its page\n"
    "is written, and one more line says so (\"Archived in DB\") or why not\n"
    "(\"Not archived: ...\"); the result file stays as it is either way. An\n"
    "archive that cannot be opened stops the start. Not in the Windows build:\n"
    "there vekton-archive on Linux imports the result files.\n"
    "\n"
    "Options:\n"
    "  --help, -h        this text\n"
    "  --version         the program's version\n"
    "  --trace DIR       keep the trace in folder DIR instead\n"
    "  --trace-max MB    the trace folder's bound in MB, 1 to 1048576 (256)\n"
    "  --no-trace        keep no trace\n"
    "  --limits FILE     judge the random-access test by the limits in FILE\n"
    "                    (TOML, as vekton-report --limits) instead of\n"
    "                    limits.toml in the current folder\n"
    "  --archive DB      put each random-access run into the archive DB\n"
    "\n"
    "Exit status: 0 ended from the main menu; 2 a usage error or no terminal;\n"
    "128 + the signal when ended by one (129 the terminal hung up or the\n"
    "console window closed, 130 Ctrl-C, 143 SIGTERM).\n"
    "\n"
    "The technician's manual: /usr/share/doc/vekton/MANUAL.md when installed\n"
    "from the package (docs/MANUAL.md in the sources, MANUAL.md beside\n"
    "vekton.exe in the Windows archive); also \"man vekton\".\n";

// Decimal digits only (no sign, no blank), at most max.
bool WholeNumber(const std::string& text, uint64_t max, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > max) return false;
  }
  value = v;
  return true;
}

}  // namespace

std::string ConsoleHelp() { return kHelp; }

std::string ConsoleVersion() { return std::string("vekton ") + VEKTON_VERSION; }

std::string ConsoleCannotStart(const std::string& why) {
  return "vekton: cannot start: " + why + " (see --help)";
}

int ConsoleCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TraceSetup dropped;
  return ConsoleCommandLine(args, out, err, dropped);
}

int ConsoleCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                       TraceSetup& trace) {
  std::string dropped;
  return ConsoleCommandLine(args, out, err, trace, dropped);
}

int ConsoleCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                       TraceSetup& trace, std::string& limitsFile) {
  std::string dropped;
  return ConsoleCommandLine(args, out, err, trace, limitsFile, dropped);
}

int ConsoleCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                       TraceSetup& trace, std::string& limitsFile, std::string& archiveFile) {
  // Left to right, as vekton-report reads its own: --help and --version act
  // where they stand, an option's value is the argument after it, and the
  // first argument that is none of these is the mistake.
  trace = TraceSetup{};
  limitsFile.clear();
  archiveFile.clear();
  bool noTrace = false, limitsGiven = false, archiveGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--limits" || a == "--archive") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        err << "vekton: " << a << " needs a file name (see --help)\n";
        return kConsoleUsageExit;
      }
      bool& given = a == "--limits" ? limitsGiven : archiveGiven;
      if (given) {
        err << "vekton: " << a << " given twice (see --help)\n";
        return kConsoleUsageExit;
      }
      given = true;
      (a == "--limits" ? limitsFile : archiveFile) = args[++i];
      continue;
    }
    if (a == "--trace" || a == "--trace-max") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        err << "vekton: " << a << (a == "--trace" ? " needs a folder" : " needs a number of MB") << " (see --help)\n";
        return kConsoleUsageExit;
      }
      const std::string& v = args[++i];
      if (a == "--trace") {
        trace.folder = v;
        continue;
      }
      uint64_t mb = 0;
      if (!WholeNumber(v, kTraceMaxMb, mb) || mb == 0) {
        err << "vekton: --trace-max wants a whole number of MB from 1 to " << kTraceMaxMb << ", not \""
            << report::Shown(v) << "\" (see --help)\n";
        return kConsoleUsageExit;
      }
      trace.maxBytes = mb << 20;
      continue;
    }
    if (a == "--no-trace") {
      noTrace = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      out << kHelp;
      return out.flush() ? 0 : 1;
    }
    if (a == "--version") {
      out << ConsoleVersion() << "\n";
      return out.flush() ? 0 : 1;
    }
    if (!a.empty() && a[0] == '-')
      err << "vekton: unknown option " << report::Shown(a) << " (see --help)\n";
    else
      err << "vekton: unexpected argument \"" << report::Shown(a) << "\": the console takes none (see --help)\n";
    return kConsoleUsageExit;
  }
  if (noTrace) trace.on = false;
  if (limitsGiven) {
    report::Limits limits;
    std::string message;
    if (!report::ReadLimitsFile(limitsFile, limits, message)) {
      err << "vekton: " << message << "\n";
      return kConsoleUsageExit;
    }
  }
  if (archiveGiven) {
    std::string message;
    if (!ConsoleArchiveCheck(archiveFile, message)) {
      err << "vekton: " << message << "\n";
      return kConsoleUsageExit;
    }
  }
  return kConsoleStart;
}
