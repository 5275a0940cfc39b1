// vekton-sim: the simulated store on a pseudo-terminal, on the real clock,
// and with --listen on a raw TCP port beside it (vekton-sim --help).
//
// The steps of a run, each a unit of its own: the options (SimOptions), the
// line's endpoints (line/), the logs (SimLogs), the control channel
// (ControlFile, ControlCommands) and the loop that serves them (Loop).
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "sim/ControlFile.h"
#include "sim/Loop.h"
#include "sim/SimLogs.h"
#include "sim/SimOptions.h"
#include "sim/Store.h"
#include "sim/line/Endpoints.h"
#include "sim/line/Line.h"

namespace {

volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

// SIGINT, SIGTERM and SIGHUP end the loop cleanly (links and FIFOs removed);
// a peer that goes while an answer is written is only a lost answer.
void CatchSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool OpenLogs(const sim::SimOptions& options, sim::TraceLog& trace, sim::AccessLog& accesses) {
  std::string why;
  if ((!options.trace.empty() && !trace.Open(options.trace, why)) ||
      (!options.accesses.empty() && !accesses.Open(options.accesses, why))) {
    std::fprintf(stderr, "vekton-sim: %s\n", why.c_str());
    return false;
  }
  return true;
}

bool OpenControl(const sim::SimOptions& options, sim::ControlFile& control) {
  std::string why;
  if (options.control.empty() || control.Open(options.control, why)) return true;
  std::fprintf(stderr, "vekton-sim: %s\n", why.c_str());
  return false;
}

void TellProfile(const sim::SimOptions& options) {
  const sim::Profile& p = *options.profile;
  std::fprintf(stderr, "vekton-sim: profile %s, serial %u, firmware %u, speed %g\n", p.name, p.serial, p.firmware,
               options.store.speed);
}

}  // namespace

int main(int argc, char** argv) {
  sim::SimOptions options;
  const sim::OptionsOutcome parsed = sim::ParseSimOptions(argc, argv, options);
  std::fputs(parsed.out.c_str(), stdout);
  std::fputs(parsed.err.c_str(), stderr);
  if (!parsed.run) return parsed.status;
  const bool vanished = options.fault == sim::Fault::Vanish;

  sim::Store store(*options.profile, options.store);
  sim::TraceLog trace;
  sim::AccessLog accesses;
  sim::Line line(store, trace);
  sim::MakeEndpoints(options, line);
  // A port in use or a host that does not resolve is a mistake in the
  // command line, told before anything else is made.
  if (!sim::ReserveEndpoints(line, vanished)) return 2;
  if (!OpenLogs(options, trace, accesses)) return 1;
  CatchSignals();
  store.SetFault(options.fault, options.faultMs);
  TellProfile(options);
  if (!sim::OpenEndpoints(line, vanished)) return 1;
  sim::ControlFile control;
  if (!OpenControl(options, control)) return 1;

  const uint64_t endUs = sim::RunLoop(line, control, accesses, &gStop);

  sim::CloseEndpoints(line, endUs);
  control.Close();
  trace.Close();
  accesses.Close();
  return 0;
}
