#include "console/CommandLine.h"

#include <ostream>
#include <string>
#include <vector>

#include "report/Cli.h"

namespace {

constexpr const char* kHelp =
    "Usage: vekton [--help | --version]\n"
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
    "Options:\n"
    "  --help, -h        this text\n"
    "  --version         the program's version\n"
    "\n"
    "Exit status: 0 ended from the main menu; 2 a usage error or no terminal;\n"
    "128 + the signal when ended by one (129 the terminal hung up or the\n"
    "console window closed, 130 Ctrl-C, 143 SIGTERM).\n"
    "\n"
    "The technician's manual: /usr/share/doc/vekton/MANUAL.md when installed\n"
    "from the package (docs/MANUAL.md in the sources, MANUAL.md beside\n"
    "vekton.exe in the Windows archive); also \"man vekton\".\n";

}  // namespace

std::string ConsoleHelp() { return kHelp; }

std::string ConsoleVersion() { return std::string("vekton ") + VEKTON_VERSION; }

std::string ConsoleCannotStart(const std::string& why) {
  return "vekton: cannot start: " + why + " (see --help)";
}

int ConsoleCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // Left to right, as vekton-report reads its own: --help and --version act
  // where they stand, the first argument that is neither is the mistake.
  for (const std::string& a : args) {
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
  return kConsoleStart;
}
