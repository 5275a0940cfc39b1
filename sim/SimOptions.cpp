#include "sim/SimOptions.h"

#include <cstdio>
#include <cstdlib>

#include "platform/RemoteLine.h"

namespace sim {
namespace {

const char kHelp[] = R"(Usage: vekton-sim [options]

A simulated Vekton plate store and its KV-PLC on a pseudo-terminal. It prints
  PTY <slave path>
on stdout once the port is ready; point the console at it, for example with
VEKTON_COM1=<slave path> (or use --link). With --listen the same controller
also answers on a TCP port. Ends cleanly on SIGINT or SIGTERM.

Options:
  --profile NAME     the store to simulate (default: standard); see below
  --list-profiles    print the profiles and exit
  --speed F          mechanics F times faster than real time (default 1);
                     answers on the line are always prompt
  --link PATH        leave a symlink to the slave at PATH (replaced if it
                     exists, removed at exit)
  --listen HOST:PORT also be a raw TCP server, as a serial device server in
                     raw mode or a controller's own Ethernet host link: the
                     bytes on the socket are the bytes on the line. HOST is
                     a name, an IPv4 address or an [IPv6] one in brackets
                     (empty: every address); PORT 0 takes a free port. Once
                     it listens it prints
                       TCP <address>:<port>
                     on stdout, e.g. "TCP 127.0.0.1:40123" or "TCP [::1]:5000".
                     One client at a time: a new client replaces the old
                     one, whose connection is closed. The pseudo-terminal
                     works all the while; each side has a command line of
                     its own, and an answer goes back to the side that sent
                     the line. A client that half-closes still gets the
                     answers it is owed, then the connection is closed.
                     A port in use or a host that does not resolve ends the
                     simulator with status 2 before the pseudo-terminal is
                     made.
  --trace FILE       log every line received and every answer sent:
                       <seconds since start, 6 decimals> RX <bytes>
                       <seconds since start, 6 decimals> TX <bytes>
                     bytes escaped as \r \n \\ and \xHH for bytes outside
                     0x20..0x7E, so a typed RD DM0 shows as "RX RD DM0\r";
                     one event per line, flushed as written; lines of both
                     sides alike. With --listen, the TCP clients too:
                       <seconds> TCP connect <address>:<port>
                       <seconds> TCP close <address>:<port> <why>
                     why: replaced, peer-closed, vanish, exit, or the
                     system's error text
  --accesses FILE    record every plate access the store performs (relays
                     1904..1909), one line each when it ends:
                       <n> <relay> <DM0> <cassette> <level> <start> <plate> <ready> <result>
                     times in seconds since start (6 decimals) when the relay
                     command arrived, PlateReady came on and the access ended
                     ("-" = never); result: ok, slot-empty, slot-full,
                     shovel-empty, shovel-full, station-empty, station-full,
                     bad-address (those raise ErrorFlag 1814) or aborted
                     (cut short by a system reset)
  --fault NAME[:MS]  start with a fault (see below)
  --control PATH     read commands from PATH while running: a FIFO (created
                     when PATH does not exist, removed at exit) or a regular
                     file that is read from its start and then followed
  --plates LAYOUT    plates in the store at start: empty, one (1.1, default),
                     three (1.1 to 1.3), full (every slot)
  --seed N           seed of the mechanical jitter and line noise (default 1)
  --help, -h         this text
  --version          the program's version

Faults (at start with --fault, while running with "fault NAME [MS]"; they
are the store's and the line's, so they hold for the pseudo-terminal and the
TCP client alike):
  none       a healthy store and line
  silent     the line is dead: commands are neither heard nor answered
  slow       every answer comes MS late (default 80 ms: past one 52 ms read)
  split      every answer in two pieces MS apart (default 60 ms: more than
             one read time-out)
  garbage    three stray bytes of line noise before every answer
  error      every command but CR and CQ is refused with "E1"
  notready   the store hangs: what moves finishes, nothing new starts, and
             Ready (relay 1915) stays off until the fault is cleared
  vanish     the port goes away: the pseudo-terminal is closed and the link
             removed; a later fault command opens a new one, prints a new
             "PTY <path>" line and points the link at it (started with
             --fault vanish, the first line reads "PTY -"). With --listen
             the TCP client's connection is closed too and new ones are
             refused; the port stays reserved, and when the fault is
             cleared it listens again on the same port and prints a new
             "TCP <address>:<port>" line (started with --fault vanish:
             "TCP -" first)

Control commands (one per line; blank lines and lines starting with # are
skipped):
  fault NAME [MS]    switch the fault as above
  speed F            change the speed factor
  plates LAYOUT      lay the plates out anew (shovel and station emptied)
  exec LINE          act on a host-link command line as if it came from the
                     line (answer on stderr), e.g. "exec WR DM211 0"
  quit               end the simulator

On the line the store answers like a KV-PLC: CR -> CC, CQ -> CF, WR DMn v ->
OK, ST n / RS n -> OK, RD DMn -> five digits, RD n -> 0 or 1 (relay n =
channel * 100 + bit 00..15), RD Tn -> "c,ccccc,ppppp" (contact, current and
preset in 10 ms units), E0 for a device that does not exist, E1 for anything
else it cannot take (unknown command, bad syntax, binary bytes, a line over
255 characters). An empty line gets no answer.
)";

std::string Format(const char* format, const std::string& arg) {
  const int n = std::snprintf(nullptr, 0, format, arg.c_str());
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  std::snprintf(text.data(), text.size() + 1, format, arg.c_str());
  return text;
}

// Decimal digits only, no sign or blank, up to max.
bool ParseDecimal(std::string_view text, uint64_t max, uint64_t& out) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  out = v;
  return true;
}

// One option that takes a value: reads it into o, or says what was wrong
// (a "vekton-sim: ..." line) and leaves o as it was.
struct ValueOption {
  const char* name;
  bool (*read)(const std::string& value, SimOptions& o, std::string& why);
};

const ValueOption kValueOptions[] = {
    {"--profile",
     [](const std::string& v, SimOptions& o, std::string& why) {
       const Profile* p = FindProfile(v);
       if (!p) {
         why = Format("vekton-sim: unknown profile \"%s\"; try --list-profiles\n", v);
         return false;
       }
       o.profile = p;
       return true;
     }},
    {"--speed",
     [](const std::string& v, SimOptions& o, std::string& why) {
       char* end = nullptr;
       const double speed = std::strtod(v.c_str(), &end);
       if (v.empty() || *end != '\0' || !(speed >= 0.01 && speed <= 1000)) {
         why = "vekton-sim: --speed wants a number from 0.01 to 1000\n";
         return false;
       }
       o.store.speed = speed;
       return true;
     }},
    {"--link", [](const std::string& v, SimOptions& o, std::string&) {
       o.link = v;
       return true;
     }},
    {"--listen",
     [](const std::string& v, SimOptions& o, std::string& why) {
       if (!ParseListenAddress(v, o.listenHost, o.listenPort)) {
         why = Format("vekton-sim: --listen wants HOST:PORT or [IPv6]:PORT with PORT 0 to 65535, not \"%s\"\n", v);
         return false;
       }
       o.listen = true;
       return true;
     }},
    {"--trace", [](const std::string& v, SimOptions& o, std::string&) {
       o.trace = v;
       return true;
     }},
    {"--accesses", [](const std::string& v, SimOptions& o, std::string&) {
       o.accesses = v;
       return true;
     }},
    {"--control", [](const std::string& v, SimOptions& o, std::string&) {
       o.control = v;
       return true;
     }},
    {"--fault",
     [](const std::string& v, SimOptions& o, std::string& why) {
       if (!ParseFaultArg(v, o.fault, o.faultMs)) {
         why = Format("vekton-sim: unknown fault \"%s\" (see --help)\n", v);
         return false;
       }
       return true;
     }},
    {"--plates",
     [](const std::string& v, SimOptions& o, std::string& why) {
       if (!ParsePlateLayout(v, o.store.plates)) {
         why = Format("vekton-sim: unknown plate layout \"%s\" (see --help)\n", v);
         return false;
       }
       return true;
     }},
    {"--seed",
     [](const std::string& v, SimOptions& o, std::string& why) {
       uint64_t seed = 0;
       if (!ParseDecimal(v, UINT32_MAX, seed)) {
         why = "vekton-sim: --seed wants a number from 0 to 4294967295\n";
         return false;
       }
       o.store.seed = static_cast<uint32_t>(seed);
       return true;
     }},
};

OptionsOutcome End(int status, std::string out, std::string err = {}) {
  return {false, status, std::move(out), std::move(err)};
}

}  // namespace

bool ParseFaultArg(std::string_view text, Fault& f, uint32_t& ms) {
  ms = 0;
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    uint64_t v = 0;
    if (!ParseDecimal(text.substr(colon + 1), 600000, v)) return false;
    ms = static_cast<uint32_t>(v);
    text = text.substr(0, colon);
  }
  return ParseFault(text, f);
}

bool ParseListenAddress(std::string_view text, std::string& host, std::string& port) {
  std::string_view h, p;
  if (!SplitHostPort(text, h, p)) return false;
  if (h.empty() && text.front() == '[') return false;
  uint64_t number = 0;
  if (p.size() > 5 || !ParseDecimal(p, 65535, number)) return false;
  host.assign(h);
  port.assign(p);
  return true;
}

std::string ProfileList() {
  std::string list;
  for (size_t i = 0; i < ProfileCount(); ++i) {
    const Profile& p = ProfileAt(i);
    const int n = std::snprintf(nullptr, 0, "%-10s serial %u: %s\n", p.name, p.serial, p.summary);
    std::string line(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    std::snprintf(line.data(), line.size() + 1, "%-10s serial %u: %s\n", p.name, p.serial, p.summary);
    list += line;
  }
  return list;
}

OptionsOutcome ParseSimOptions(int argc, const char* const* argv, SimOptions& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return End(0, kHelp + std::string("\nProfiles:\n") + ProfileList());
    if (arg == "--version") return End(0, "vekton-sim " VEKTON_VERSION "\n");
    if (arg == "--list-profiles") return End(0, ProfileList());
    const ValueOption* option = nullptr;
    for (const ValueOption& row : kValueOptions) {
      if (arg == row.name) option = &row;
    }
    if (!option) return End(2, {}, Format("vekton-sim: unknown option \"%s\" (see --help)\n", arg));
    if (i + 1 >= argc) return End(2, {}, Format("vekton-sim: %s needs a value (see --help)\n", arg));
    std::string why;
    if (!option->read(argv[++i], o, why)) return End(2, {}, why);
  }
  return {};
}

}  // namespace sim
