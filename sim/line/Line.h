// The simulator's line: the store it carries commands to, the answers owed,
// the trace, and its endpoints (the pseudo-terminal, the TCP port), each a
// way in for host-link commands with the descriptors it owns.
//
// Each endpoint gathers a command line of its own and hands it to the store
// whole at its CR (Hear), as a controller with a serial and an Ethernet
// host-link port has a receive buffer for each: two peers typing at once
// never mix their bytes into one line. An answer goes back to the endpoint
// the line came from (SendDue).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/AnswerQueue.h"
#include "sim/SimLogs.h"
#include "sim/Store.h"

namespace sim {

// Each endpoint keeps this much of a line, however long it gets (the rest is
// past the controller's limit anyway and only makes it an E1).
constexpr size_t kKeepLine = 4096;
// An endpoint reads at most this much per turn of the loop, so a flooding
// peer cannot starve the other endpoints, the clock or the control commands.
constexpr size_t kMaxReadPerTurn = 64 * 1024;

// What an endpoint asks the loop to watch, and what the wait saw there.
enum PollBits : uint8_t { kPollIn = 1, kPollHangUp = 2, kPollError = 4, kPollOther = 8 };
struct PollEntry {
  int fd = -1;
  uint8_t want = 0;  // kPollIn or nothing (hang-ups and errors always count)
  uint8_t got = 0;
};

class Endpoint {
 public:
  virtual ~Endpoint() = default;
  // Before anything else is made: takes what must be had, or the command
  // line was wrong (a TCP port in use). False, with why, ends the simulator
  // with status 2. vanished: it starts with the port gone.
  virtual bool Reserve(bool vanished, std::string& why) {
    (void)vanished;
    (void)why;
    return true;
  }
  // Opens and tells its address on stdout ("<NAME> <address>", or
  // "<NAME> -" when vanished). False: the simulator cannot start (status 1).
  virtual bool Open(bool vanished) = 0;
  // The vanish fault comes (peers dropped, nothing owed to them) and goes.
  virtual void Vanish(uint64_t nowUs) = 0;
  virtual void Return() = 0;
  // At exit.
  virtual void Close(uint64_t nowUs) = 0;
  // Appends the entries it wants watched in this turn.
  virtual void AddPolls(std::vector<PollEntry>& polls, uint64_t nowUs) = 0;
  // After the wait: its n entries as it appended them, with what came.
  virtual void Handle(const PollEntry* polls, size_t n, uint64_t nowUs) = 0;
  // Microseconds until a pause of its own ends (UINT64_MAX: none).
  virtual uint64_t PauseUs(uint64_t nowUs) const {
    (void)nowUs;
    return UINT64_MAX;
  }
  // A due answer owed to it; lost when its peer is gone or does not take it.
  virtual void Deliver(const Owed& answer, uint64_t nowUs) = 0;
  // After the due answers went out.
  virtual void AfterSend(uint64_t nowUs) { (void)nowUs; }
};

struct Line {
  Line(Store& s, TraceLog& t) : store(s), trace(t) {}
  Store& store;
  TraceLog& trace;
  AnswerQueue owed;
  std::vector<std::unique_ptr<Endpoint>> endpoints;  // its index is its number in owed
  std::vector<Piece> pieces;                         // the store's answer to one line
};

// Bytes from an endpoint's peer, gathered in its own command line: every CR
// hands the line to the store, traces it (RX) and queues the answer owed to
// that endpoint and session.
void Hear(Line& line, int endpoint, uint32_t session, std::string& gathered, const unsigned char* bytes, size_t n,
          uint64_t nowUs);
// Sends (and traces, TX) every answer due by now, in order.
void SendDue(Line& line, uint64_t nowUs);
// Microseconds until an answer, a mechanical event or an endpoint's pause
// is due, at most maxUs.
uint64_t WaitUs(const Line& line, uint64_t nowUs, uint64_t maxUs);

// The start-up steps over every endpoint. Reserve: false with "vekton-sim: ..."
// printed (status 2). Open: last to first, so that the pseudo-terminal's
// PTY line, which scripts wait for, comes once every other endpoint has told
// its address.
bool ReserveEndpoints(Line& line, bool vanished);
bool OpenEndpoints(Line& line, bool vanished);
void VanishEndpoints(Line& line, uint64_t nowUs);
void ReturnEndpoints(Line& line);
void CloseEndpoints(Line& line, uint64_t nowUs);

}  // namespace sim
