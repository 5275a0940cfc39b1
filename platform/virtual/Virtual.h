// The virtual platform for tests: scripted keys, a clock that only moves when
// the program waits (Delay, read time-outs, blocking key reads), serial ports
// whose far end is a peer object in the same process, and files in memory.
// Minutes of waiting run in milliseconds and every run is the same.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/LineReopen.h"
#include "platform/Process.h"
#include "platform/Serial.h"

namespace vt {

// Thrown when the program blocks on a key and the script has none left.
struct ScriptEnd : std::runtime_error {
  ScriptEnd() : std::runtime_error("key script exhausted") {}
};
// Thrown when the program polls without ever letting time pass.
struct Spin : std::runtime_error {
  Spin() : std::runtime_error("program spins without waiting") {}
};

// Everything back to the start: blank screen, clock at 10:00:00.00 on
// 8 Dec 2026, no keys, no ports, no files, no environment.
void Reset();

// --- clock -----------------------------------------------------------------------
uint64_t NowUs();
inline uint64_t NowMs() { return NowUs() / 1000; }
void AdvanceUs(uint64_t us);
void SetTimeOfDay(int hour, int minute, int second, int hundredths);
void SetDate(int year, int month, int day);
// How often the program has gone to sleep (Delay and PlatformWait calls)
// since Reset: an idle loop's wake-ups.
uint64_t SleepCalls();

// --- keys ------------------------------------------------------------------------
void PushKeys(std::string_view bytes);                   // available now
void PushKeysAt(uint64_t atUs, std::string_view bytes);  // available from atUs
void PushExtended(uint8_t scanCode);                     // 0 then the scan code
// Called when the program blocks on a key and none is queued; it may queue
// keys and return true, or return false to end the run (ScriptEnd).
void SetKeyFeeder(std::function<bool()> feeder);
size_t PendingKeys();

// --- display ---------------------------------------------------------------------
// A display the screen model is presented on, as a terminal is: at each of
// the program's yields (key poll, key wait, delay, wait, flush) the changed
// cells are copied to it; while it is smaller than 80 x 25 it shows the
// message JudgeDisplaySize (platform/ScreenFit.h) gives instead, and when it
// fits again the whole screen is presented anew. There is no display until a
// size is set; a new size takes effect at the program's next yield, as a
// resize signal does on a terminal.
void SetDisplaySize(int cols, int rows);
// The same at virtual time atUs (the first yield from then on); changes
// given for the same moment take effect in the order given.
void SetDisplaySizeAt(uint64_t atUs, int cols, int rows);
// What the display shows: its rows, each of its cols code-page-437 bytes.
std::vector<std::string> DisplayRows();
// How often the whole 80 x 25 screen was presented anew: the first frame,
// and each time the display was found to fit after a size change.
unsigned DisplayRedraws();

// --- the line's trace -----------------------------------------------------------
// The recorder (platform/Trace.h) writes real files, its records timed by the
// virtual clock (local time is UTC here). From now, trace writes fail with
// code once bytes more have been written (a disk that fills up).
void FailTraceWritesAfter(uint64_t bytes, int code);

// --- serial ----------------------------------------------------------------------
// Where a peer sends its bytes.
class Sink {
 public:
  virtual ~Sink() = default;
  // Bytes that arrive at the program's side at time atUs (in order).
  virtual void Send(uint64_t atUs, std::string_view bytes) = 0;
};

class SerialPeer {
 public:
  virtual ~SerialPeer() = default;
  // One byte written by the program at virtual time tUs.
  virtual void OnByte(uint8_t byte, uint64_t tUs, Sink& out) = 0;
  // The program is about to look at its input at time tUs.
  virtual void AdvanceTo(uint64_t /*tUs*/, Sink& /*out*/) {}
  // The program's port was reopened after its line went away: a new
  // connection, on which nothing of the old one is pending.
  virtual void OnLineBack() {}
};

struct WrittenByte {
  uint64_t atUs;
  uint8_t byte;
};

struct PortState {
  SerialPeer* peer = nullptr;
  bool exists = true;
  bool open = false;
  bool failGetSettings = false;
  bool failSetSettings = false;
  bool failTimeouts = false;
  // The device went away: an open handle's calls fail with
  // kSerialErrLineLost and SerialOpen finds nothing. Set back to false, the
  // device is there again; an open handle is back once SerialLineUp has
  // reopened it (at most once a virtual second).
  bool vanished = false;
  // Scripted hang-ups: the device goes away once this many bytes have been
  // written (0: never), or at this time (0: never); it comes back at backAtUs
  // (0: only when the test clears vanished).
  size_t vanishAfterBytes = 0;
  uint64_t vanishAtUs = 0;
  uint64_t backAtUs = 0;
  SerialSettings settings{9600, 'N', 8, 1, true};
  SerialTimeouts timeouts{};
  std::deque<std::pair<uint64_t, uint8_t>> rx;  // arrival time, byte
  std::vector<WrittenByte> written;
  unsigned purges = 0;
  unsigned opens = 0;
  // An open handle whose line went away, and the reopenings tried.
  bool lineDown = false;
  LineReopenPace reopen;
  unsigned reopens = 0;
};

// Makes port n exist, with peer as its far end (may be null: a silent line).
PortState& AttachPort(int port, SerialPeer* peer);
PortState& Port(int port);
// Everything the program wrote to port n, as one string.
std::string WrittenText(int port);
// The lines (split at CR, CR kept out) the program wrote to port n.
std::vector<std::string> WrittenLines(int port);
// Times (us) at which each line's CR was written.
std::vector<uint64_t> WrittenLineTimes(int port);
void ClearWritten(int port);

// A peer that answers per command line by a table of rules.
class ScriptedPeer : public SerialPeer {
 public:
  struct Rule {
    std::string answer;          // sent with CR LF appended unless raw
    bool raw = false;            // send answer bytes exactly as given
    bool silent = false;         // no answer at all
    uint64_t delayUs = 2000;     // from the CR to the first byte
    size_t splitAt = 0;          // > 0: send the first splitAt bytes, then the rest
    uint64_t splitGapUs = 0;     // pause between the two pieces
  };
  // Rule for an exact command line (without CR).
  void On(std::string_view command, Rule rule) { rules_[std::string(command)] = std::move(rule); }
  void On(std::string_view command, std::string_view answer) { On(command, Rule{std::string(answer)}); }
  // Rule for lines that have no rule of their own; default: silent.
  void Otherwise(Rule rule) { default_ = std::move(rule); }
  // Answers from a function instead (return false for no answer).
  void OnAny(std::function<bool(const std::string&, Rule&)> f) { func_ = std::move(f); }
  const std::vector<std::string>& Lines() const { return lines_; }

  void OnByte(uint8_t byte, uint64_t tUs, Sink& out) override;
  void OnLineBack() override { current_.clear(); }

 private:
  std::map<std::string, Rule> rules_;
  Rule default_{"", false, true};
  std::function<bool(const std::string&, Rule&)> func_;
  std::string current_;
  std::vector<std::string> lines_;
};

// --- files and environment ----------------------------------------------------
void SetEnv(std::string_view name, std::string_view value);
// Files in memory: a path without '/' lies in the current directory.
void PutFile(std::string_view path, std::string_view content = "");
bool FileExists(std::string_view path);
std::vector<std::string> FileLines(std::string_view path);
void SetReadOnly(bool readOnly);  // new files cannot be created or written

// Programs: a file in memory (PutFile) is one that can be run, and PATH
// lists folders separated by ':'. RunProgram hands each call to the runner,
// which does what the program would (PutFile) and says how it ended;
// without a runner nothing can be started. Temporary folders are names
// under $TMPDIR (else /tmp); removing one removes the files in it.
using ProgramRunner = std::function<ProgramOutcome(const std::string& program, const std::vector<std::string>& args,
                                                   const std::string& outputPath, int timeoutMs)>;
void SetProgramRunner(ProgramRunner runner);

// The system version word DosVersion reports.
void SetDosVersion(uint16_t v);

// Runs the exit hooks as PlatformShutdown would.
void RunExitHooks();

}  // namespace vt
