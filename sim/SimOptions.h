// vekton-sim's command line: what it asks for, read from argv.
//
//   SimOptions o;
//   const OptionsOutcome r = ParseSimOptions(argc, argv, o);
//   print r.out on stdout and r.err on stderr; unless r.run, exit r.status.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/Store.h"

namespace sim {

struct SimOptions {
  const Profile* profile = &DefaultProfile();
  // A pseudo-terminal and a socket carry bytes at once: no line delay.
  Options store{.latencyUs = 0, .byteUs = 0};
  std::string link, trace, accesses, control;
  bool listen = false;
  std::string listenHost;  // empty: every address
  std::string listenPort;  // decimal 0..65535, 0: any free port
  Fault fault = Fault::None;
  uint32_t faultMs = 0;
};

struct OptionsOutcome {
  bool run = true;  // false: the program ends with status
  int status = 0;   // 0 after --help, --version or --list-profiles; 2 for a usage error
  std::string out;  // for stdout
  std::string err;  // for stderr: one "vekton-sim: ..." line on a usage error
};

// Reads argv[1..argc-1] into o, option by option; the first bad one ends the
// reading (unknown option, missing value, a value out of its range or not a
// number at all), as does --help, --version or --list-profiles.
OptionsOutcome ParseSimOptions(int argc, const char* const* argv, SimOptions& o);

// "NAME" or "NAME:MS" (MS up to 600000), as --fault and the control command
// take it. False for an unknown name or a bad MS; ms is 0 without one.
bool ParseFaultArg(std::string_view text, Fault& f, uint32_t& ms);

// HOST:PORT or [IPv6]:PORT as --listen takes it: HOST may be empty (every
// address) but not in brackets; PORT is 0..65535 (0: any free port).
bool ParseListenAddress(std::string_view text, std::string& host, std::string& port);

// The profile list of --list-profiles and --help, one line each.
std::string ProfileList();

}  // namespace sim
